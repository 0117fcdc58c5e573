#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer; preset "fuzz", folder build-fuzz/) and runs
# each one for a bounded time, starting from the committed seeds in
# fuzz/corpus/<target>/ and the corpus that earlier runs of this build folder
# grew. Fails when any target finds a crash, a leak, a time-out or undefined
# behaviour; the input that did it is kept in build-fuzz/artifacts/<target>/.
#
#   scripts/fuzz.sh              every target for 60 s
#   scripts/fuzz.sh 300          every target for 300 s
#   scripts/fuzz.sh 30 txt_json  one target (process_incoming, read_name,
#                                txt_json, reports) for 30 s
#
# Targets run side by side, as many at a time as there are cores
# (TANDRELO_FUZZ_JOBS overrides). The targets open no sockets.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift || true
all_targets=(process_incoming read_name txt_json reports)
if [ $# -gt 0 ]; then targets=("$@"); else targets=("${all_targets[@]}"); fi
jobs=${TANDRELO_FUZZ_JOBS:-$(nproc 2>/dev/null || echo 2)}
case "$seconds" in ''|*[!0-9]*) echo "usage: $0 [seconds] [target...]" >&2; exit 2 ;; esac

cd "$here"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"

out=build-fuzz/runs
mkdir -p "$out"

run_target() {
    local t=$1
    local bin=build-fuzz/fuzz/fuzz_$t
    local corpus=build-fuzz/corpus/$t
    local artifacts=build-fuzz/artifacts/$t
    mkdir -p "$corpus" "$artifacts"
    local args=(-max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048
                -print_final_stats=1 -artifact_prefix="$artifacts/")
    [ -f "fuzz/$t.dict" ] && args+=(-dict="fuzz/$t.dict")
    # New inputs go into the first folder; the committed seeds stay as they are.
    local status=0
    nice "$bin" "${args[@]}" "$corpus" "fuzz/corpus/$t" >"$out/$t.log" 2>&1 || status=$?
    echo "$status" >"$out/$t.status"
}

for t in "${targets[@]}"; do
    [ -x "build-fuzz/fuzz/fuzz_$t" ] || { echo "fuzz: no target '$t'" >&2; exit 2; }
done

echo "Fuzzing ${#targets[@]} target(s) for ${seconds} s each, $jobs at a time"
running=0
for t in "${targets[@]}"; do
    rm -f "$out/$t.status"
    run_target "$t" &
    running=$((running + 1))
    if [ "$running" -ge "$jobs" ]; then
        wait -n || true
        running=$((running - 1))
    fi
done
wait || true

# Summary: executions, speed, corpus (committed seeds plus what this build
# folder has grown), and the result.
failed=0
printf '%-18s %12s %10s %14s %s\n' target executions exec/s corpus result
for t in "${targets[@]}"; do
    log=$out/$t.log
    status=$(cat "$out/$t.status" 2>/dev/null || echo 1)
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    files=$(find "build-fuzz/corpus/$t" "fuzz/corpus/$t" -type f | wc -l)
    size=$(cat "build-fuzz/corpus/$t"/* "fuzz/corpus/$t"/* 2>/dev/null | wc -c)
    if [ "$status" = 0 ]; then
        result=ok
    else
        result="FAILED ($status)"
        failed=1
    fi
    printf '%-18s %12s %10s %14s %s\n' "$t" "${execs:-?}" "${speed:-?}" \
        "$files/$((size / 1024))KiB" "$result"
done
if [ "$failed" != 0 ]; then
    for t in "${targets[@]}"; do
        if [ "$(cat "$out/$t.status" 2>/dev/null || echo 1)" != 0 ]; then
            echo "---- $t ($out/$t.log):"
            grep -v '^#[0-9]' "$out/$t.log" | tail -60
            ls -l "build-fuzz/artifacts/$t" || true
        fi
    done
    exit 1
fi

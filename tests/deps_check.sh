#!/usr/bin/env bash
# The package check of scripts/run-tests.sh, with two packages hidden: the
# command dig (bind9-dnsutils) left out of PATH, and the header folder CLI
# (libcli11-dev) left out of a copy of /usr/include. install-deps.sh --check
# must name exactly those two, and run-tests.sh --no-install must stop at
# once, before any build, with the command to run.
#   deps_check.sh SOURCE_DIR
set -euo pipefail
source_dir=$1
deps=$source_dir/scripts/install-deps.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# Nothing hidden: this machine, which runs the tests, has everything.
"$deps" --check >"$work/none" || { cat "$work/none"; fail "install-deps.sh --check finds packages missing"; }

# A PATH of links to every command but dig, and a root whose /usr/include
# lacks CLI/.
mkdir -p "$work/bin" "$work/root/usr/include"
for dir in /usr/local/bin /usr/bin /bin /usr/sbin /sbin; do
    for command in "$dir"/*; do
        name=${command##*/}
        [ "$name" = dig ] || [ -e "$work/bin/$name" ] || ln -s "$command" "$work/bin/$name"
    done
done
for entry in /usr/include/*; do
    [ "${entry##*/}" = CLI ] || ln -s "$entry" "$work/root/usr/include/${entry##*/}"
done
for entry in /usr/*; do
    [ -e "$work/root$entry" ] || ln -s "$entry" "$work/root$entry"
done
# The tests may run inside run-tests.sh, whose namespace mark would skip the check.
hidden=(env -u TANDRELO_IN_NETNS PATH="$work/bin" TANDRELO_DEPS_ROOT="$work/root")

status=0
"${hidden[@]}" "$deps" --check >"$work/missing" || status=$?
[ "$status" = 1 ] || fail "install-deps.sh --check exited $status, not 1"
[ "$(cat "$work/missing")" = "libcli11-dev
bind9-dnsutils" ] || fail "install-deps.sh --check named: $(cat "$work/missing")"

status=0
start=$SECONDS
"${hidden[@]}" timeout 60 "$source_dir/scripts/run-tests.sh" --no-install linux >"$work/out" 2>"$work/err" || status=$?
[ "$status" = 2 ] || { cat "$work/out" "$work/err"; fail "run-tests.sh --no-install exited $status, not 2"; }
[ $((SECONDS - start)) -le 10 ] || fail "run-tests.sh took $((SECONDS - start)) s to stop"
[ ! -s "$work/out" ] || { cat "$work/out"; fail "run-tests.sh started something"; }
grep -qF "run-tests: missing packages: libcli11-dev bind9-dnsutils" "$work/err" || { cat "$work/err"; fail "no list of the missing packages"; }
grep -qE "^    (sudo )?$deps\$" "$work/err" || { cat "$work/err"; fail "no command to run"; }
echo "the package check names the hidden packages and stops the tests at once"

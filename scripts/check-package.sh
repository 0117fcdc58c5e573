#!/usr/bin/env bash
# Installs a Linux build into a temporary prefix and uses it the way another
# project would: examples/consumer built through the CMake package
# (find_package(tandrelo-mdns), target tandrelo::mdns) and again through
# pkg-config, both run; the installed tool and the Python binding load the
# installed library. Removes the prefix afterwards.
#
#   scripts/check-package.sh [BUILD_DIR]     (default: build)
#
# Nothing here opens a socket, but scripts/run-tests.sh runs it inside its
# network namespace all the same.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/tandrelo-package.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"
libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:[A-Z]*=//p' "$build/CMakeCache.txt")
libdir=${libdir:-lib}

echo "check-package: cmake --install $build --prefix $prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null

echo "check-package: consumer through the CMake package"
cmake -S "$here/examples/consumer" -B "$work/consumer-cmake" \
      -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$work/consumer-cmake" >/dev/null
"$work/consumer-cmake/consumer"

echo "check-package: consumer through pkg-config"
export PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig"
version=$(pkg-config --modversion tandrelo-mdns)
[ "$version" = 1.1.0 ] || { echo "pkg-config says version $version" >&2; exit 1; }
# shellcheck disable=SC2046  # the flags are meant to split into words
"${CC:-cc}" -std=c99 -Wall -Wextra -Werror -o "$work/consumer-pkgconfig" \
   "$here/examples/consumer/consumer.c" $(pkg-config --cflags --libs tandrelo-mdns) \
   -Wl,-rpath,"$(pkg-config --variable=libdir tandrelo-mdns)"
"$work/consumer-pkgconfig" >/dev/null

if [ -x "$prefix/bin/tandrelo-mdns" ]; then
    echo "check-package: the installed tool"
    "$prefix/bin/tandrelo-mdns" version
fi

if /usr/bin/python3 -c '' 2>/dev/null; then
    echo "check-package: the Python binding with the installed library"
    TANDRELO_MDNS_LIBRARY="$prefix/$libdir/libtandrelo-mdns.so.1" PYTHONPATH="$here/python" \
        PYTHONDONTWRITEBYTECODE=1 /usr/bin/python3 -c \
        'import tandrelo_mdns; print("python binding:", tandrelo_mdns.version())'
fi
echo "check-package: passed"

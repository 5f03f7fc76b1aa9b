#!/usr/bin/env bash
# The Windows edition: installs what is missing (as root, on Debian 12), cross-builds with
# mingw-w64 into build-windows/ and runs its test suites under wine, in a prefix of this run's
# own. Leaves build-windows/app/tarnwick.exe.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

build=build-windows
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j "$(nproc)"

# A fresh prefix for this run; wine asks for no optional component and keeps quiet.
export WINEPREFIX
WINEPREFIX=$(mktemp -d /tmp/tarnwick-wine-XXXXXX)
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
source tests/e2e/helpers.sh
source tests/windows/wine.sh
cleanup() {
    end_wine_server
    rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
make_wine_prefix
ctest --test-dir "$build" --output-on-failure -j 2 "$@"
echo "Windows test suites passed; the program is $build/app/tarnwick.exe"

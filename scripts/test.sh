#!/usr/bin/env bash
# Installs what is missing, builds and runs the whole test suite: a plain build, then
# AddressSanitizer + UndefinedBehaviorSanitizer, then the threading tests under ThreadSanitizer,
# then the Windows edition under wine (scripts/windows.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

run_suite() {  # build-dir, extra cmake args..., then ctest args after --
    local dir=$1; shift
    local package=no
    [[ $1 == --package ]] && { package=yes; shift; }
    local cmake_args=() ctest_args=()
    while (($#)) && [[ $1 != -- ]]; do cmake_args+=("$1"); shift; done
    (($#)) && shift
    ctest_args=("$@")
    echo "=== $dir ==="
    cmake -S . -B "$dir" -G Ninja -DTARNWICK_BUILD_BENCH=OFF "${cmake_args[@]}"
    cmake --build "$dir" -j "$jobs"
    if [[ $package == yes ]]; then
        # The Debian package, checked by lintian (errors fail the run); the end-to-end test of the
        # installed program runs against it.
        rm -f "$dir"/tarnwick_*.deb
        (cd "$dir" && cpack -G DEB)
        lintian --fail-on error "$dir"/tarnwick_*.deb
        appstreamcli validate --no-net "$dir"/package/*.metainfo.xml
    fi
    ctest --test-dir "$dir" --output-on-failure -j "$jobs" "${ctest_args[@]}"
}

run_suite build-test --package -DCMAKE_BUILD_TYPE=RelWithDebInfo
run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DTARNWICK_SANITIZE=address,undefined
run_suite build-tsan -DCMAKE_BUILD_TYPE=Debug -DTARNWICK_SANITIZE=thread -- -R Threading
echo "=== build-windows ==="
bash scripts/windows.sh
echo "All test suites passed."

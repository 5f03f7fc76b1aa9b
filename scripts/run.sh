#!/usr/bin/env bash
# Installs what is missing, builds Tarnwick and its Debian package (build/tarnwick_*.deb) and
# starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build --target tarnwick tarnwick_package_files
rm -f build/tarnwick_*.deb
(cd build && cpack -G DEB >/dev/null)
exec ./build/app/tarnwick

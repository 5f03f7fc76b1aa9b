#!/usr/bin/env bash
# Installs the Debian 12 packages Tarnwick needs to build, run and test, skipping those already
# installed. Run as root.
set -euo pipefail

packages=(
    # build
    g++ cmake ninja-build pkg-config qt6-base-dev libxcb1-dev libx11-dev libblkid-dev libsystemd-dev libgtest-dev libgmock-dev
    libbenchmark-dev
    # run: the About window's semi-condensed face (without it the regular face is narrowed)
    fonts-dejavu-extra
    # tests: fuzzing, virtual display, volumes, independent checks, the Debian package
    clang libclang-rt-14-dev xvfb xauth xdotool xclip imagemagick x11-apps
    dosfstools mtools exfatprogs exfat-fuse fusefat ntfs-3g fuse3 e2fsprogs util-linux mount procps
    faketime
    rsync dpkg-dev file lintian appstream passwd
    # tests of the unattended runs: a private session bus and its monitor, unit checks
    dbus-daemon dbus-bin systemd
    # the Windows edition: cross compiler, and wine to test it on
    g++-mingw-w64-x86-64-posix wine wine64
    # benchmarks
    hyperfine time python3
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

#!/usr/bin/env bash
# The systemd user units the package installs pass `systemd-analyze verify`. Their command is
# /usr/bin/tarnwick, which the build machine may not have: the copies checked name the built
# executable instead. Exits 77 (skipped) without systemd-analyze.
#
# Usage: verify_units.sh TARNWICK_EXECUTABLE UNIT_FOLDER
set -euo pipefail
exe=$1 units=$2
command -v systemd-analyze >/dev/null || { echo "SKIP: systemd-analyze is not installed"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/runtime" "$work/units"
chmod 700 "$work/runtime"
for unit in "$units"/*; do
    sed "s#/usr/bin/tarnwick#$exe#" "$unit" >"$work/units/$(basename "$unit")"
done
out=$(XDG_RUNTIME_DIR=$work/runtime systemd-analyze --user verify --man=no "$work/units"/* 2>&1) || {
    echo "$out"
    echo "FAIL: systemd-analyze verify"
    exit 1
}
# verify also says what it finds doubtful without failing; the units have nothing to say.
if [[ -n $out ]]; then
    echo "$out"
    echo "FAIL: systemd-analyze verify has remarks"
    exit 1
fi
echo "the units pass systemd-analyze verify"

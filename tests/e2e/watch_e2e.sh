#!/usr/bin/env bash
# tarnwick --watch as root on a private session bus. Three groups: the first backs up onto a FAT
# stick with the serial 1A2B-3C4D, the second between two local folders, the third onto a stick
# (5E6F-7081) that is mounted before the watch starts. Mounting the first stick after the watch
# started runs the first group within a few seconds, and only it; a notification of the run is
# sent over the session bus (seen by dbus-monitor); SIGTERM ends the watch with status 0.
#
# Usage: watch_e2e.sh TARNWICK_EXECUTABLE
# Exits 77 (skipped) without root, loop devices, mkfs.vfat, mtools or the session bus tools.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/helpers.sh"
exe=$1

skip() {
    echo "SKIP: $*"
    exit 77
}
[[ $(id -u) == 0 ]] || skip "needs root to mount"
for tool in losetup mount mkfs.vfat mmd dbus-run-session dbus-monitor; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
done
[[ -e /dev/loop-control ]] || skip "no loop devices"

work=$(mktemp -d /tmp/tarnwick-watch-XXXXXX)
tag=$(basename "$work")
mounts=() loops=() watch=
cleanup() {
    [[ -n $watch ]] && kill "$watch" 2>/dev/null
    for m in "${mounts[@]}"; do umount "$m" 2>/dev/null || umount -l "$m" 2>/dev/null || true; done
    for m in "${mounts[@]}"; do rmdir "$m" 2>/dev/null || true; done
    for l in "${loops[@]}"; do losetup -d "$l" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

# stick SERIAL NAME: an 8 MiB FAT image with a folder "backup", attached to a loop device (sets
# loop) and mounted under /media (sets point); with fusefat where the kernel has no vfat.
stick() {
    local image=$work/$2.img
    point=/media/$tag-$2
    truncate -s 8M "$image"
    mkfs.vfat -i "$1" "$image" >/dev/null
    mmd -i "$image" ::/backup
    loop=$(losetup -f --show "$image") || skip "cannot attach a loop device"
    loops+=("$loop")
    mkdir -p "$point"
    mounts+=("$point")
    mount -t vfat "$loop" "$point" 2>/dev/null ||
        { command -v fusefat >/dev/null && fusefat -o "rw+,blkdev,fsname=$loop" "$loop" "$point" >/dev/null 2>&1; } ||
        skip "cannot mount a FAT volume"
}

# The settings beside a copy of the program: folders of this computer, as the folder dialog
# saves them (FAT serials in decimal; the stick folders under letters they do not have now).
mkdir -p "$work/app" "$work/src1" "$work/src2" "$work/src3" "$work/dst2"
cp "$exe" "$work/app/tarnwick"
echo one >"$work/src1/one.txt"
echo two >"$work/src2/two.txt"
echo three >"$work/src3/three.txt"
computer=$(uname -n | cut -d. -f1 | cut -c1-15 | tr a-z A-Z)
drive() { echo "C:${1//\//\\}"; }
entry() {  # number path type serial
    printf '%s_PATH=%s\n%s_TYPE=%s\n%s_SERIAL=%s\n%s_MERGE=0\n%s_SUBDIR=1\n' \
        "$1" "$2" "$1" "$3" "$1" "$4" "$1" "$1"
}
{
    echo "[1_$computer]"
    entry 1 "$(drive "$work/src1")" 3 ""
    entry 2 'Q:\backup' 2 $((0x1A2B3C4D))
    echo "[2_$computer]"
    entry 1 "$(drive "$work/src2")" 3 ""
    entry 2 "$(drive "$work/dst2")" 3 ""
    echo "[3_$computer]"
    entry 1 "$(drive "$work/src3")" 3 ""
    entry 2 'R:\backup' 2 $((0x5E6F7081))
} >"$work/app/tarnwick.INI"

stick 5E6F7081 present
present=$point
# The drive letters the watch gives are remembered here, not in root's own state folder.
export XDG_STATE_HOME=$work/state
dbus-run-session -- bash -c '
    dbus-monitor "interface=org.freedesktop.Notifications,member=Notify" >"$1/notify.log" 2>&1 &
    echo $$ >"$1/watch.pid"
    exec "$1/app/tarnwick" --watch' - "$work" >"$work/watch.log" 2>"$work/watch.err" &
session=$!
within 100 grep -qs "watching the mounted volumes" "$work/watch.err" ||
    fail "the watch did not start: $(cat "$work/watch.err")"
watch=$(cat "$work/watch.pid")

stick 1A2B3C4D plugged
within 100 grep -q "Logging Ends" "$work/watch.log" || fail "no run after the stick was mounted"
within 100 test -f "$point/backup/one.txt" || fail "the first group copied nothing"
within 50 grep -q 'string "Total files copied : 1."' "$work/notify.log" ||
    fail "no notification: $(cat "$work/notify.log")"
grep -q '1 file copied.' "$work/notify.log" || fail "the notification does not say what was copied"

kill -TERM "$watch"
status=0
wait "$session" || status=$?
watch=
[[ $status == 0 ]] || fail "the watch ended with status $status"
log=$(cat "$work/watch.log")
[[ $(grep -c "Logging Starts" <<<"$log") == 1 ]] || fail "not exactly one run: $log"
[[ $log == *"Synchronising from \"$(drive "$work/src1")\" to \""[D-Z]':\backup"'* ]] ||
    fail "the run did not take the first group: $log"
! grep -q "src2\|src3" <<<"$log" || fail "groups of other volumes ran: $log"
[[ ! -e $work/dst2/two.txt && ! -e $present/backup/three.txt ]] || fail "other groups copied"
echo "the watch ran the group of the stick that was plugged in, and only it"

#!/usr/bin/env bash
# End to end, file times on sticks:
# - a Merge with a FAT stick in July (summer time), an edit of one source file half an hour after
#   the version the Merge copied, and the next Merge in January (standard time), with the
#   computer's clock set by libfaketime and the zone Europe/Berlin. The edit reaches the stick and
#   nothing else is copied in either direction: the change of offset moves no FAT time.
# - a Merge with an exFAT stick (exfat-fuse) of files dated before 1980, at both ends of the years
#   exFAT keeps and past its end: the second Merge copies nothing, and no source file changes.
#
# Usage: stick_times_e2e.sh TARNWICK_EXECUTABLE
# Exits 77 (skipped) without root, loop devices, FUSE, faketime or the zone's data.
set -euo pipefail

self=$(realpath "${BASH_SOURCE[0]}")
source "$(dirname "$self")/helpers.sh"

export TZ=Europe/Berlin

# --- In a mount namespace of its own ----------------------------------------------------------
if [[ ${1:-} == --in-namespace ]]; then
    program=$2 kind=$3
    work=$(mktemp -d /var/tmp/tarnwick-times.XXXXXX)
    loop=
    cleanup() {
        set +e
        umount "$work/stick" 2>/dev/null || umount -l "$work/stick" 2>/dev/null
        [[ -n $loop ]] && losetup -d "$loop"
        rm -rf "$work"
    }
    trap cleanup EXIT
    mkdir -p "$work/app" "$work/src" "$work/stick"
    cp "$program" "$work/app/tarnwick"
    truncate -s 16M "$work/stick.img"
    if [[ $kind == exfat ]]; then
        mkfs.exfat "$work/stick.img" >/dev/null
    else
        mkfs.vfat "$work/stick.img" >/dev/null
    fi
    mount_stick() {
        if [[ -z $loop ]]; then
            loop=$(losetup --show -f "$work/stick.img") || skip "no loop device"
        fi
        if [[ $kind == exfat ]]; then
            mount -t exfat "$loop" "$work/stick" 2>/dev/null ||
                mount.exfat-fuse "$loop" "$work/stick" >/dev/null 2>&1 ||
                skip "neither the kernel's exfat nor exfat-fuse mounts the stick"
        else
            mount -t vfat "$loop" "$work/stick" 2>/dev/null ||
                fusefat -o rw+ "$loop" "$work/stick" >/dev/null 2>&1 ||
                skip "neither the kernel's vfat nor fusefat mounts the stick"
        fi
    }
    mount_stick
    mkdir "$work/stick/dst"
    write_pair_settings "$work/app/tarnwick.INI" "$work/src" "$work/stick/dst"
    sed -i 's/^2_MERGE=0/2_MERGE=1/' "$work/app/tarnwick.INI"
    copied() { grep -o 'Total files copied : [0-9]*' "$work/run.log" | awk '{print $NF}'; }
    # The program's clock only: the files keep the times they have.
    run_at() {
        NO_FAKE_STAT=1 FAKETIME="@$1" LD_PRELOAD=$faketime_library \
            "$work/app/tarnwick" --synchronize >"$work/run.log" 2>&1 ||
            fail "the run at $1 failed: $(cat "$work/run.log")"
        # A fresh mount between runs: nothing is answered from a driver's cache.
        umount "$work/stick"
        mount_stick
    }

    if [[ $kind == exfat ]]; then
        dates=("1975-06-01 12:00:00 UTC" "1980-01-01 00:00:00 UTC" "1980-01-01 00:00:00.5 UTC"
            "2107-12-31 23:59:59 UTC" "2108-01-01 00:00:00 UTC" "2200-01-01 00:00:00 UTC")
        for i in "${!dates[@]}"; do
            echo "$i" >"$work/src/f$i"
            touch -d "${dates[$i]}" "$work/src/f$i"
        done
        sources() { TZ=UTC stat -c '%n %y' "$work"/src/*; }
        before=$(sources)
        run_at "2026-12-09 12:00:00"
        [[ $(copied) == ${#dates[@]} ]] || fail "the first run copied $(copied) files: $(cat "$work/run.log")"
        # What the stick holds: the years of FAT, the first time for those before.
        held=$(TZ=UTC stat -c '%y' "$work"/stick/dst/* | cut -c1-19 | tr '\n' ,)
        [[ $held == "1980-01-01 00:00:00,1980-01-01 00:00:00,1980-01-01 00:00:00,2107-12-31 23:59:59,2107-12-31 23:59:59,2107-12-31 23:59:59," ]] ||
            fail "the stick holds $held"
        run_at "2026-12-09 12:05:00"
        [[ $(copied) == 0 ]] || fail "the second run copied $(copied) files: $(cat "$work/run.log")"
        [[ $(sources) == "$before" ]] || fail "source times changed: $(sources)"
        echo "PASS: exFAT times before, at and past both ends of its years are copied once"
        exit 0
    fi

    for name in a b c; do
        echo "first $name" >"$work/src/$name.txt"
        touch -d "2026-07-15 09:55:00" "$work/src/$name.txt"
    done
    run_at "2026-07-15 10:00:00"
    [[ $(copied) == 3 ]] || fail "the July run copied $(copied) files, not 3: $(cat "$work/run.log")"
    before=$(stat -c '%n %Y' "$work/stick/dst/a.txt" "$work/stick/dst/c.txt" "$work/src/a.txt")
    # Read with January's offset, the stick's copy (09:55 in July) would be 10:55: newer than this.
    echo "edited b" >"$work/src/b.txt"
    touch -d "2026-07-15 10:25:00" "$work/src/b.txt"

    run_at "2027-01-15 10:00:00"
    [[ $(cat "$work/src/b.txt") == "edited b" ]] || fail "the edit was overwritten by the stick's copy"
    [[ $(cat "$work/stick/dst/b.txt") == "edited b" ]] || fail "the edit did not reach the stick"
    [[ $(copied) == 1 ]] || fail "the January run copied $(copied) files, not 1: $(cat "$work/run.log")"
    after=$(stat -c '%n %Y' "$work/stick/dst/a.txt" "$work/stick/dst/c.txt" "$work/src/a.txt")
    [[ $before == "$after" ]] || fail "unchanged files changed: $before / $after"
    echo "PASS: an edit made half an hour after a summer Merge survives the winter Merge"
    exit 0
fi

# --- Set-up -----------------------------------------------------------------------------------
program=$(realpath "${1:?usage: fat_summer_time_e2e.sh TARNWICK_EXECUTABLE}")
((EUID == 0)) || skip "needs root (mounts a stick)"
for tool in unshare losetup mkfs.vfat mkfs.exfat; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
done
[[ -e /usr/share/zoneinfo/Europe/Berlin ]] || skip "no zone data for Europe/Berlin"
faketime_library=$(ls /usr/lib/*/faketime/libfaketime.so.1 2>/dev/null | head -1)
[[ -n $faketime_library ]] || skip "libfaketime is not installed"
export faketime_library
[[ -e /dev/loop-control ]] || skip "no loop devices"
for kind in fat exfat; do
    unshare -m --propagation private bash "$self" --in-namespace "$program" "$kind"
done

#!/usr/bin/env bash
# tarnwick.exe --synchronize under wine, in a prefix of its own: a tree copied with its times and
# a Merge back, a second run that copies nothing, from a settings file as the Linux edition writes
# it. As root, also a run as an ordinary user (nobody) with a prefix of its own, whose unreadable
# file is told about and gives status 1; with loop devices, also a FAT32 stick (serial 1A2B-3C4D)
# mapped as a removable wine drive: saved as E:\Backup, found again as F:\Backup by its serial.
# Usage: synchronize_e2e.sh <tarnwick.exe>
set -euo pipefail
source "$(dirname "$0")/../e2e/helpers.sh"
source "$(dirname "$0")/wine.sh"

exe=$(realpath "$1")
work=$(mktemp -d /tmp/tarnwick-i27-wine-XXXXXX)
mountpoint=""
loop=""
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
    end_wine_server
    if [[ -n $mountpoint ]]; then
        umount "$mountpoint" 2>/dev/null || umount -l "$mountpoint" 2>/dev/null || true
        rmdir "$mountpoint" 2>/dev/null || true
    fi
    [[ -n $loop ]] && losetup -d "$loop" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

make_wine_prefix
mkdir -p "$work/app"
cp "$exe" "$work/app/tarnwick.exe"

run() {  # the run log in $work/log, the exit status in $status
    set +e
    wine "$work/app/tarnwick.exe" --synchronize >"$work/log" 2>"$work/err"
    status=$?
    set -e
    tr -d '\r' <"$work/log" >"$work/log.txt"
}

# --- A tree and a Merge back, on the Linux edition's settings file ------------------------------
mkdir -p "$work/src/sub" "$work/dst"
echo one >"$work/src/a.txt"
echo two >"$work/src/sub/b.txt"
echo back >"$work/dst/only-there.txt"
touch -d '2020-01-02 03:04:05' "$work/src/a.txt"
touch -d '2021-06-07 08:09:10.5' "$work/src/sub/b.txt"
touch -d '2019-05-05 05:05:05' "$work/dst/only-there.txt"
# LF line ends, a blank line and another computer's section, as the Linux edition leaves them.
cat >"$work/app/tarnwick.INI" <<INI
[1_OTHERPC]
1_PATH=C:\\elsewhere

[1_$computer]
1_PATH=$(winpath "$work/src")
1_TYPE=3
1_SERIAL=
1_MERGE=0
1_SUBDIR=1
2_PATH=$(winpath "$work/dst")
2_TYPE=3
2_SERIAL=
2_MERGE=1
2_SUBDIR=1
3_PATH=!
3_TYPE=
3_SERIAL=
3_MERGE=0
3_SUBDIR=0
INI

run
((status == 0)) || fail "first run ended with $status: $(cat "$work/log.txt" "$work/err")"
grep -q "Total files copied : 3." "$work/log.txt" || fail "first run: $(cat "$work/log.txt")"
cmp -s "$work/src/a.txt" "$work/dst/a.txt" || fail "a.txt was not copied"
cmp -s "$work/src/sub/b.txt" "$work/dst/sub/b.txt" || fail "sub\\b.txt was not copied"
cmp -s "$work/dst/only-there.txt" "$work/src/only-there.txt" || fail "the Merge did not copy back"
for f in a.txt sub/b.txt; do
    [[ $(stat -c %y "$work/src/$f") == $(stat -c %y "$work/dst/$f") ]] ||
        fail "$f lost its time: $(stat -c %y "$work/src/$f") vs $(stat -c %y "$work/dst/$f")"
done
[[ $(stat -c %y "$work/src/only-there.txt") == $(stat -c %y "$work/dst/only-there.txt") ]] ||
    fail "the file copied back lost its time"
ls -A "$work/dst" "$work/dst/sub" "$work/src" | grep -q '^\.tarnwick-' && fail "temporary files left"

run
((status == 0)) || fail "second run ended with $status"
grep -q "Total files copied : 0." "$work/log.txt" || fail "second run copied: $(cat "$work/log.txt")"
grep -q "^\[1_OTHERPC\]" "$work/app/tarnwick.INI" || fail "another computer's section is gone"

[[ $("$exe" --version 2>/dev/null || wine "$work/app/tarnwick.exe" --version 2>/dev/null | tr -d '\r') == "Tarnwick "* ]] ||
    fail "no version record read back"
set +e
wine "$work/app/tarnwick.exe" --watch >/dev/null 2>&1
[[ $? == 1 ]] || fail "--watch did not answer that it is not available"
wine "$work/app/tarnwick.exe" --bogus >/dev/null 2>&1
[[ $? == 2 ]] || fail "a wrong command line did not give the usage status"
set -e
echo "tree, Merge back and second run: passed"

# --- As an ordinary user with a home and a prefix of its own: a file it may not read is told ----
# about and gives status 1; the file it may read is copied.
if [[ $(id -u) == 0 ]] && command -v setpriv >/dev/null; then
    home=$work/user
    mkdir -p "$home/app" "$home/src" "$home/dst"
    cp "$exe" "$home/app/tarnwick.exe"
    echo mine >"$home/src/mine.txt"
    echo private >"$home/src/private.txt"
    {
        echo "[1_$computer]"
        entry 1 "$(winpath "$home/src")" 0 1
        entry 2 "$(winpath "$home/dst")" 0 1
    } >"$home/app/tarnwick.INI"
    chown -R nobody: "$home"
    chmod o+rx "$work"
    chown root: "$home/src/private.txt"
    chmod 600 "$home/src/private.txt"
    as_user() {
        setpriv --reuid=nobody --regid=nogroup --clear-groups \
            env HOME="$home" WINEPREFIX="$home/prefix" "$@"
    }
    # The user may not read the checkout: the helpers go with it.
    cp "$(dirname "$0")/../e2e/helpers.sh" "$(dirname "$0")/wine.sh" "$home/"
    chown nobody: "$home/helpers.sh" "$home/wine.sh"
    as_user bash -c "source '$home/helpers.sh'; source '$home/wine.sh'; make_wine_prefix" ||
        fail "no prefix for the ordinary user"
    set +e
    as_user wine "$home/app/tarnwick.exe" --synchronize >"$work/log" 2>"$work/err"
    status=$?
    set -e
    as_user bash -c "source '$home/wine.sh'; end_wine_server"
    tr -d '\r' <"$work/log" >"$work/log.txt"
    ((status == 1)) || fail "the ordinary user's run ended with $status: $(cat "$work/log.txt" "$work/err")"
    grep -q "^1 file could not be copied to " "$work/log.txt" ||
        fail "the unreadable file was not told about: $(cat "$work/log.txt")"
    cmp -s "$home/src/mine.txt" "$home/dst/mine.txt" || fail "the user's own file was not copied"
    [[ ! -e $home/dst/private.txt ]] || fail "a file the user may not read was copied"
    echo "as an ordinary user, a file left behind gives status 1: passed"
fi

# --- A FAT32 stick (the kernel's vfat, else fusefat) that comes back under another letter ------------------------------------------
[[ $(id -u) == 0 ]] || skip "the stick part needs root"
command -v mkfs.vfat >/dev/null || skip "mkfs.vfat is missing"
truncate -s 40M "$work/stick.img"
mkfs.vfat -F 32 -i 1A2B3C4D -n TWSTICK "$work/stick.img" >/dev/null
loop=$(losetup -f --show "$work/stick.img" 2>/dev/null) || skip "no loop device"
mountpoint=$(mktemp -d /tmp/tarnwick-i27-stick-XXXXXX)
mount -t vfat "$loop" "$mountpoint" 2>/dev/null ||
    { command -v fusefat >/dev/null &&
        fusefat -o "rw+,fsname=$loop" "$loop" "$mountpoint" >/dev/null 2>&1; } ||
    skip "cannot mount a FAT volume"
mkdir "$mountpoint/Backup"

map_stick() {  # letter: the stick under that letter only, removable
    rm -f "$WINEPREFIX"/dosdevices/[e-f]:*
    ln -s "$mountpoint" "$WINEPREFIX/dosdevices/$1:"
    ln -s "$loop" "$WINEPREFIX/dosdevices/$1::"
    wine reg delete 'HKLM\Software\Wine\Drives' /f >/dev/null 2>&1 || true
    wine reg add 'HKLM\Software\Wine\Drives' /v "$1:" /d floppy /f >/dev/null 2>&1
    # The wine server reads the drives when it starts.
    end_wine_server
}

map_stick e
# Wine reads the serial from the device only where it can tie the mounted files to it (the
# kernel's vfat); through fusefat it answers 0.
serial=$(wine cmd /c vol e: 2>/dev/null | tr -d '\r' | sed -n 's/.*Serial Number is //p')
[[ ${serial^^} == 1A2B-3C4D ]] ||
    skip "wine reads no serial of this FAT mount (got '${serial:-nothing}'; kernel vfat is needed)"
{
    echo "[1_$computer]"
    entry 1 "$(winpath "$work/src")" 0 1
    entry 2 'E:\Backup' 0 1 2 $((0x1A2B3C4D))
} >"$work/app/tarnwick.INI"
run
((status == 0)) || fail "run onto E: ended with $status: $(cat "$work/log.txt" "$work/err")"
grep -q "to \"E:\\\\Backup\"" "$work/log.txt" || fail "not synchronised onto E:: $(cat "$work/log.txt")"
cmp -s "$work/src/sub/b.txt" "$mountpoint/Backup/sub/b.txt" || fail "nothing reached the stick"

# Times reach the stick where the driver takes them from an open file (the kernel's vfat);
# fusefat under wine keeps the time of the write.
times_held=no
[[ $(stat -c %Y "$work/src/sub/b.txt") == $(stat -c %Y "$mountpoint/Backup/sub/b.txt") ]] &&
    times_held=yes

map_stick f
echo changed >"$work/src/a.txt"
touch -d '2031-03-03 03:03:03' "$work/src/a.txt"
run
((status == 0)) || fail "run onto F: ended with $status: $(cat "$work/log.txt" "$work/err")"
grep -q "to \"F:\\\\Backup\"" "$work/log.txt" || fail "the stick was not found as F:: $(cat "$work/log.txt")"
grep -q "Total files copied : 1." "$work/log.txt" || fail "F: run: $(cat "$work/log.txt")"
cmp -s "$work/src/a.txt" "$mountpoint/Backup/a.txt" || fail "the change did not reach the stick"
echo "stick saved as E:, found again as F: by its serial: passed"
[[ $times_held == yes ]] || skip "this FAT driver keeps no times given through wine (kernel vfat is needed)"
# FAT keeps 2-second steps: a second run still copies nothing.
run
grep -q "Total files copied : 0." "$work/log.txt" || fail "second run onto FAT: $(cat "$work/log.txt")"
echo "second run onto FAT: passed"

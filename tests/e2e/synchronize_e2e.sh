#!/usr/bin/env bash
# End to end: the real program, copied into a folder of its own with a prepared settings file
# beside it, is started on a virtual X display; Synchronize is pressed as a person would, the
# files must arrive with their times, and Exit must end the program with status 0.
#
# Usage: synchronize_e2e.sh TARNWICK_EXECUTABLE [SCREENSHOT_FOLDER]
# Exits 77 (skipped) where Xvfb or xdotool is missing.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/helpers.sh"

# --- On the virtual display -------------------------------------------------------------------
if [[ ${1:-} == --on-display ]]; then
    work=$2
    shots=${3:-}
    shot() {
        [[ -n $shots ]] && import -window root "$shots/$1.png" || true
    }
    main_window() {
        wid=$(xdotool search --onlyvisible --name '^Tarnwick' 2>/dev/null | head -1)
        [[ -n $wid ]]
    }
    same_time() {  # source, copy: both there, same contents, same time to the 100 ns
        [[ -f $2 ]] && cmp -s "$1" "$2" && [[ $(stat -c %y "$1") == "$(stat -c %y "$2")" ]]
    }
    copied() {
        same_time "$work/src/a.txt" "$work/dst/a.txt" &&
            same_time "$work/src/sub/b.txt" "$work/dst/sub/b.txt"
    }
    visible_windows() {
        xdotool search --onlyvisible --class tarnwick 2>/dev/null | wc -l
    }

    export QT_QPA_PLATFORM=xcb
    "$work/app/tarnwick" &
    pid=$!
    trap 'kill $pid 2>/dev/null || true' EXIT

    within 300 main_window || fail "the main window did not appear"
    caption=$(xdotool getwindowname "$wid")
    expected="Tarnwick - Location C:${work//\//\\}\\app"
    [[ $caption == "$expected" ]] || fail "caption '$caption', expected '$expected'"
    xdotool windowfocus --sync "$wid"
    shot 1-started

    xdotool key --clearmodifiers alt+s
    within 600 copied || { shot 2-not-copied; fail "the files were not copied with their times"; }
    shot 2-copied

    # Exit from the File menu: open it, wait for its popup, choose Exit.
    before=$(visible_windows)
    xdotool key --clearmodifiers alt+f
    within 100 test "$(visible_windows)" -gt "$before" || fail "the File menu did not open"
    shot 3-file-menu
    xdotool key e  # "&Exit"
    within 300 ended "$pid" || fail "the program did not end after Exit"
    trap - EXIT
    status=0
    wait $pid || status=$?
    [[ $status == 0 ]] || fail "the program ended with status $status"
    exit 0
fi

# --- Set-up -----------------------------------------------------------------------------------
program=${1:?usage: synchronize_e2e.sh TARNWICK_EXECUTABLE [SCREENSHOT_FOLDER]}
shots=${2:-}
for tool in xvfb-run Xvfb xauth xdotool; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is not installed (the end-to-end test needs Xvfb, xauth and xdotool)"
        exit 77
    fi
done
[[ -z $shots ]] || command -v import >/dev/null || fail "import (ImageMagick) is needed for screenshots"

# Under /var/tmp: /var is never a drive of its own, so the folder is on C: whatever is mounted.
work=$(mktemp -d /var/tmp/tarnwick-e2e.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/app" "$work/src/sub" "$work/dst"
cp "$program" "$work/app/tarnwick"
echo "first file" >"$work/src/a.txt"
echo "second file, in a subfolder" >"$work/src/sub/b.txt"
touch -d '2020-01-02 03:04:05.1234567' "$work/src/a.txt"
touch -d '2021-06-07 08:09:10.7654321' "$work/src/sub/b.txt"

write_pair_settings "$work/app/tarnwick.INI" "$work/src" "$work/dst"
settings_before=$(cat "$work/app/tarnwick.INI")

xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" bash "$0" --on-display "$work" "$shots"

[[ $(cat "$work/app/tarnwick.INI") == "$settings_before" ]] || fail "the settings file changed"
echo "PASS: synchronised and ended with status 0"

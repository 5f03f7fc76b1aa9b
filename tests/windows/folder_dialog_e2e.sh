#!/usr/bin/env bash
# The folder dialog under wine on a virtual display, driven from the keyboard as a person would:
# a typed existing folder is saved with Merge chosen, a typed missing folder cannot be saved, and
# Close answers nothing; in the browser a new folder is renamed in place and chosen.
# Also runs the tests of the windows that need a display (winui_tests.exe) on the same display.
# Usage: folder_dialog_e2e.sh <folder_dialog_demo.exe> <winui_tests.exe>
set -euo pipefail
source "$(dirname "$0")/../e2e/helpers.sh"
source "$(dirname "$0")/wine.sh"

for tool in Xvfb xdotool wine wineboot; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
done
exe=$(realpath "$1")
window_tests=$(realpath "$2")
work=$(mktemp -d /tmp/tarnwick-folder-dialog-XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
xvfb=""
demo=""
cleanup() {
    [[ -n $demo ]] && kill "$demo" 2>/dev/null || true
    end_wine_server
    [[ -n $xvfb ]] && kill "$xvfb" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

display=""
for number in $(seq 91 130); do
    if [[ ! -e /tmp/.X11-unix/X$number && ! -e /tmp/.X$number-lock ]]; then
        display=:$number
        break
    fi
done
[[ -n $display ]] || skip "no free display number"
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=$display
within 50 xdotool getmouselocation >/dev/null 2>&1 || fail "Xvfb did not start"

make_wine_prefix
mkdir -p "$work/Target Folder"

# Starts the demo with its arguments and waits for the window named $1; the answer goes to
# $work/out.
open_window() {
    local name=$1
    shift
    wine "$exe" "$@" >"$work/out" 2>"$work/err" &
    demo=$!
    within 300 window_named "$name" || fail "$name did not open: $(cat "$work/err")"
    sleep 1  # the first paint, and the focus in the path field or the tree
}
open_dialog() { open_window "^Please choose a new" "$@"; }

answer() { tr -d '\r' <"$work/out"; }

# --- Save: a typed folder, Merge chosen with the arrow key, Enter --------------------------------
open_dialog destination
target=$(winpath "$work/Target Folder")
xdotool type --delay 20 "$target"
# Tab to the browse button, Tab to the folder type (Backup), Up to Merge.
xdotool key Tab Tab Up
# Enter saves once the disk information of the text has come; before that it does nothing.
for _ in $(seq 1 20); do
    xdotool key Return
    within 5 ended "$demo" && break
done
within 50 ended "$demo" || fail "Save did not close the dialog"
answer | grep -qF "saved $target merge=1 type=" || fail "Save answered: $(answer)"
answer | grep -qE ' serial=[1-9][0-9]*$' || fail "no serial with the saved folder: $(answer)"

# --- A missing folder cannot be saved; Escape closes with no answer -----------------------------
open_dialog source
xdotool type --delay 20 "$(winpath "$work/Missing")"
for _ in $(seq 1 4); do
    xdotool key Return
    sleep 0.3
done
ended "$demo" && fail "a missing folder was saved: $(answer)"
xdotool key Escape
within 50 ended "$demo" || fail "Escape did not close the dialog"
[[ $(answer) == closed ]] || fail "Close answered: $(answer)"

# --- The browser: Make New Folder under the initial folder, F2 renames it, Enter chooses it -----
open_window "^Browse for Folder$" browse "$(winpath "$work")"
xdotool key alt+m
within 30 test -d "$work/New Folder" || fail "Make New Folder made no folder"
sleep 0.5
xdotool key F2
sleep 0.5
xdotool type --delay 20 "Renamed"
xdotool key Return
within 30 test -d "$work/Renamed" || fail "the label did not rename the folder"
sleep 0.5
xdotool key Return
within 50 ended "$demo" || fail "Enter did not choose the folder"
[[ $(answer) == "chosen $(winpath "$work/Renamed")" ]] || fail "the browser answered: $(answer)"
[[ ! -e "$work/New Folder" ]] || fail "the new folder is still there under its first name"
demo=""

wine "$window_tests" >"$work/tests" 2>&1 || fail "the window tests failed: $(tr -d '\r' <"$work/tests")"
echo "PASS: the folder dialog saves a typed folder with its flag and closes without one; the browser makes, renames and chooses a folder"

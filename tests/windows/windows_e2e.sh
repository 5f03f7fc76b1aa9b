#!/usr/bin/env bash
# tarnwick.exe's windows under wine on a virtual display, in a prefix of its own: the main window
# opens with the groups of its settings file, Synchronize copies the file, the group whose source
# is missing opens the log window by itself, its lines tell the run, Delete deletes a group,
# Insert adds one through the folder dialog, Exit ends the program, and Copy and Run starts a copy
# in a folder chosen in the browser.
# Skips without Xvfb or xdotool.
# Usage: windows_e2e.sh <tarnwick.exe>
set -euo pipefail
source "$(dirname "$0")/../e2e/helpers.sh"

command -v Xvfb >/dev/null && command -v xdotool >/dev/null || skip "needs Xvfb and xdotool"
exe=$(realpath "$1")
source "$(dirname "$0")/wine_display.sh"
start_wine_display tarnwick-windows-e2e 1024x768

mkdir -p "$work/app" "$work/src" "$work/dst" "$work/dst2"
cp "$exe" "$work/app/tarnwick.exe"
echo one >"$work/src/a.txt"
{
    echo "[1_$computer]"
    entry 1 "$(winpath "$work/src")" 0 1
    entry 2 "$(winpath "$work/dst")" 0 0
    echo "[2_$computer]"
    entry 1 "$(winpath "$work/missing")" 0 1
    entry 2 "$(winpath "$work/dst2")" 0 0
} >"$work/app/tarnwick.INI"

wine "$work/app/tarnwick.exe" >/dev/null 2>&1 &
program=$!
within 300 window_named '^Tarnwick - Location Z:' || fail "no main window"
main=$wid
# No window manager gives the focus: a click on the first source does.
eval "$(xdotool getwindowgeometry --shell "$main")"
xdotool mousemove $((X + 60)) $((Y + 50)) click 1
sleep 0.5
xdotool key alt+s

within 300 test -f "$work/dst/a.txt" || fail "Synchronize copied nothing"
cmp -s "$work/src/a.txt" "$work/dst/a.txt" || fail "a.txt was copied wrong"
within 100 window_named '^Error during synchronization$' ||
    fail "the missing folder did not open the log window"
log=$wid

if command -v xclip >/dev/null; then
    # The log's text, selected and copied as a user would.
    eval "$(xdotool getwindowgeometry --shell "$log")"
    xdotool mousemove $((X + 80)) $((Y + 60)) click 1
    sleep 0.3
    xdotool key ctrl+a ctrl+c
    text=""
    lines() { text=$(xclip -o -selection clipboard 2>/dev/null | tr -d '\r') && [[ $text == *"Logging Ends"* ]]; }
    within 50 lines || fail "the log could not be copied: $text"
    for line in '1 file copied.' 'Total files copied : 1.' \
        "The folder \"$(winpath "$work/missing")\" was not found." \
        "Synchronising from \"$(winpath "$work/src")\" to \"$(winpath "$work/dst")\""; do
        grep -qF -- "$line" <<<"$text" || fail "the log lacks '$line': $text"
    done
else
    echo "xclip is missing: the log's lines are not checked"
fi

# Escape closes the log; Exit (File menu) ends the program with 0.
xdotool key Escape
within 50 bash -c "! xdotool search --onlyvisible --name '^Error during synchronization$' >/dev/null" ||
    fail "Escape did not close the log"

# Delete on the selected first source deletes its group: the settings mark it, the list drops it.
eval "$(xdotool getwindowgeometry --shell "$main")"
xdotool mousemove $((X + 60)) $((Y + 50)) click 1
sleep 0.3
xdotool key Delete
deleted() { tr -d '\r' <"$work/app/tarnwick.INI" | grep -qx '1_PATH=!'; }
within 50 deleted || fail "Delete did not delete the group: $(cat "$work/app/tarnwick.INI")"

# Insert on the source list opens the folder dialog for a new source: a typed folder, saved with
# Enter (which waits for the disk's details), becomes a group of its own.
mkdir -p "$work/new"
xdotool key Insert
within 100 window_named '^Please choose a new Source Folder $' || fail "Insert opened no dialog"
sleep 1
xdotool type --delay 20 "$(winpath "$work/new")"
added() { tr -d '\r' <"$work/app/tarnwick.INI" | grep -qxF "1_PATH=$(winpath "$work/new")"; }
for _ in $(seq 1 20); do
    xdotool key Return
    within 5 added && break
done
added || fail "the new source was not saved: $(cat "$work/app/tarnwick.INI")"

xdotool key alt+f
sleep 0.3
xdotool key e
ended() { ! kill -0 "$program" 2>/dev/null; }
within 100 ended || fail "Exit did not end the program"
set +e
wait "$program"
status=$?
set -e
program=""
((status == 0)) || fail "the program ended with $status"

# Copy and Run: the browser, driven from the keyboard down to a folder, takes the program there;
# the copy starts in that folder and this one ends.
mkdir -p "$work/stick"
wine "$work/app/tarnwick.exe" >/dev/null 2>&1 &
program=$!
within 300 window_named '^Tarnwick - Location Z:' || fail "no main window the second time"
eval "$(xdotool getwindowgeometry --shell "$wid")"
xdotool mousemove $((X + 60)) $((Y + 50)) click 1
sleep 0.3
xdotool key alt+f
sleep 0.3
xdotool key c
within 100 window_named '^Browse for Folder$' || fail "Copy and Run opened no browser"
sleep 0.5
# Type-ahead picks each level's folder; Right lists it (off the window's thread), Right again
# steps into it.
for name in z tmp "$(basename "$work")" stick; do
    xdotool type --delay 30 "$name"
    sleep 0.3
    [[ $name == stick ]] && break
    xdotool key Right
    sleep 2
    xdotool key Right
    sleep 0.3
done
xdotool key Return
within 300 window_named "^Tarnwick - Location Z:.*\\\\stick\$" ||
    fail "the copy did not start in the chosen folder"
cmp -s "$work/app/tarnwick.exe" "$work/stick/tarnwick.exe" || fail "the program was not copied"
within 100 ended "$program" || fail "Copy and Run did not end this program"
program=""
eval "$(xdotool getwindowgeometry --shell "$wid")"
xdotool mousemove $((X + 60)) $((Y + 50)) click 1
sleep 0.3
xdotool key alt+f
sleep 0.3
xdotool key e
within 100 bash -c "! xdotool search --onlyvisible --name '^Tarnwick - Location' >/dev/null" ||
    fail "the copy did not end"
echo "PASS: the windows synchronise, open the log by themselves after an error, delete and add a group, end with 0, and copy and run the program elsewhere"

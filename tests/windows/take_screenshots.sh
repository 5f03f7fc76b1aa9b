#!/usr/bin/env bash
# Renews the Windows edition's screenshots of the README (docs/screenshots/windows-*.png):
# tarnwick.exe under wine on a virtual X display without a window manager, with two source
# folders on C:, the first one with three destinations, a run whose second group misses its
# destination (a stick that is not plugged in), and the About window.
#
# Usage: take_screenshots.sh TARNWICK_EXE OUTPUT_FOLDER
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../e2e/helpers.sh"

exe=$(realpath "${1:?usage: take_screenshots.sh TARNWICK_EXE OUTPUT_FOLDER}")
out=$(realpath "${2:?usage: take_screenshots.sh TARNWICK_EXE OUTPUT_FOLDER}")
source "$(dirname "${BASH_SOURCE[0]}")/wine_display.sh"
start_wine_display tarnwick-windows-shots 1280x1024

demo=$WINEPREFIX/drive_c/tarnwick-demo
mkdir -p "$demo/Tarnwick" "$demo/Documents" "$demo/Photos" "$demo/Backup/Documents" \
    "$demo/Laptop/Documents" "$demo/Stick/Documents"
cp "$exe" "$demo/Tarnwick/tarnwick.exe"
for n in 1 2 3; do echo "letter $n" >"$demo/Documents/letter$n.txt"; done
echo "holiday" >"$demo/Photos/beach.jpg"
demo_path() {  # a folder below the demo, or a drive path as it is
    if [[ $1 == ?:* ]]; then echo "$1"; else echo "C:\\tarnwick-demo\\${1//\//\\}"; fi
}
{
    echo "[1_$computer]"
    entry 1 "$(demo_path Documents)" 0 1
    entry 2 "$(demo_path Backup/Documents)" 0 0
    entry 3 "$(demo_path Laptop/Documents)" 1 0
    entry 4 "$(demo_path Stick/Documents)" 0 0
    echo "[2_$computer]"
    entry 1 "$(demo_path Photos)" 0 1
    entry 2 "$(demo_path 'Q:\Photos')" 0 0
} >"$demo/Tarnwick/tarnwick.INI"

wine "$demo/Tarnwick/tarnwick.exe" >/dev/null 2>&1 &
program=$!
within 300 window_named '^Tarnwick - Location' || fail "no main window"
main=$wid
eval "$(xdotool getwindowgeometry --shell "$main")"
# The first source: a click on the first row of the source list.
xdotool mousemove $((X + 60)) $((Y + 50)) click 1 mousemove $((X + 700)) $((Y + 700))
sleep 1.5
mkdir -p "$out"
import -window "$main" "$out/windows-main-window.png"

# Without a window manager the keys go to the window under the pointer.
xdotool mousemove $((X + 60)) $((Y + HEIGHT - 20))
xdotool key alt+s
within 300 window_named "^Error during synchronization$" || fail "no log window"
sleep 1
import -window "$wid" "$out/windows-log-window.png"
xdotool key Escape
sleep 0.5

xdotool key alt+h
sleep 0.5
xdotool key a
within 100 window_named '^About$' || fail "no About window"
sleep 1
import -window "$wid" "$out/windows-about.png"
xdotool key Escape
echo "Screenshots written to $out"

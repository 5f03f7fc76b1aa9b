#!/usr/bin/env bash
# Renews the screenshots of the README (docs/screenshots/): the real program on a virtual X
# display without a window manager, with two source folders, the first one with three
# destinations, a run whose second group misses its destination, and the About window.
#
# Usage: take_screenshots.sh TARNWICK_EXECUTABLE OUTPUT_FOLDER
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/helpers.sh"

if [[ ${1:-} == --on-display ]]; then
    demo=$2
    out=$3
    export QT_QPA_PLATFORM=xcb
    "$demo/Tarnwick/tarnwick" &
    pid=$!
    trap 'kill $pid 2>/dev/null || true' EXIT

    within 300 window_named '^Tarnwick' || fail "no main window"
    main=$wid
    xdotool windowfocus --sync "$main"
    eval "$(xdotool getwindowgeometry --shell "$main")"
    # The first source: a click on the first row of the source list.
    xdotool mousemove $((X + 60)) $((Y + 50)) click 1 mousemove $((X + 600)) $((Y + 600))
    sleep 1
    import -window "$main" "$out/main-window.png"

    xdotool key --clearmodifiers alt+s
    within 300 window_named '^Error during synchronization$' || fail "no log window"
    sleep 1
    import -window "$wid" "$out/log-window.png"
    # "OK", centred in the bottom row, closes the log.
    eval "$(xdotool getwindowgeometry --shell "$wid")"
    xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT - 20)) click 1

    within 50 window_named '^Tarnwick' || fail "the main window is gone"
    xdotool windowfocus --sync "$main"
    xdotool key --clearmodifiers alt+h
    sleep 0.5
    xdotool key a
    within 100 window_named '^About$' || fail "no About window"
    sleep 1
    import -window "$wid" "$out/about.png"
    exit 0
fi

program=${1:?usage: take_screenshots.sh TARNWICK_EXECUTABLE OUTPUT_FOLDER}
out=$(realpath "${2:?usage: take_screenshots.sh TARNWICK_EXECUTABLE OUTPUT_FOLDER}")
demo=/tmp/tarnwick-demo
rm -rf "$demo"
trap 'rm -rf "$demo"' EXIT
mkdir -p "$demo/Tarnwick" "$demo/Documents" "$demo/Photos" "$demo/Backup/Documents" \
    "$demo/Laptop/Documents" "$demo/Stick/Documents"
cp "$program" "$demo/Tarnwick/tarnwick"
for n in 1 2 3; do echo "letter $n" >"$demo/Documents/letter$n.txt"; done
echo "holiday" >"$demo/Photos/beach.jpg"

computer=$(hostname | cut -d. -f1 | tr '[:lower:]' '[:upper:]' | cut -c1-15)
entry() {  # number, drive path, merge, subfolders
    printf '%s_PATH=%s\n%s_TYPE=3\n%s_SERIAL=\n%s_MERGE=%s\n%s_SUBDIR=%s\n' \
        "$1" "C:${2//\//\\}" "$1" "$1" "$1" "$3" "$1" "$4"
}
{
    echo "[1_$computer]"
    entry 1 "$demo/Documents" 0 1
    entry 2 "$demo/Backup/Documents" 0 0
    entry 3 "$demo/Laptop/Documents" 1 0
    entry 4 "$demo/Stick/Documents" 0 0
    echo "[2_$computer]"
    entry 1 "$demo/Photos" 0 1
    entry 2 "$demo/Stick/Photos" 0 0
} >"$demo/Tarnwick/tarnwick.INI"

mkdir -p "$out"
xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" bash "$0" --on-display "$demo" "$out"
echo "Screenshots written to $out"

#!/usr/bin/env bash
# End to end: a run copies onto an exFAT stick whose FUSE driver is then stopped (SIGSTOP), as a
# stick or a share that stops answering; the worker is held in the kernel. Cancel must give the
# window back and Exit must end the program within three seconds all the same. Once more with
# Exit while the run is held: the windows go at once and the display connection is closed within
# two seconds, although the process lives on until the driver answers. Then with the driver killed
# while the run is held: the copies fail, the log window opens with the error, and the program
# ends as usual. And a run without the window, sent SIGTERM while the driver is stopped: its
# Cancelled, total and end lines come within two seconds all the same, and once the driver answers
# it exits with 143.
#
# Usage: stuck_volume_e2e.sh TARNWICK_EXECUTABLE [MODE...]   (stop, exit, kill, term; all by default)
# Exits 77 (skipped) without root, loop devices, FUSE, Xvfb or xdotool.
set -euo pipefail

self=$(realpath "${BASH_SOURCE[0]}")
source "$(dirname "$self")/helpers.sh"
skip() {
    echo "SKIP: $*"
    exit 77
}

# --- On the virtual display -------------------------------------------------------------------
if [[ ${1:-} == --on-display ]]; then
    work=$2 driver=$3 mode=$4
    main_window() { window_named '^Tarnwick'; }
    some_copied() { (($(find "$work/stick/dst" -type f | wc -l) >= 5)); }

    export QT_QPA_PLATFORM=xcb
    "$work/app/tarnwick" &
    pid=$!
    trap 'kill -9 $pid 2>/dev/null || true' EXIT
    within 300 main_window || fail "the main window did not appear"
    xdotool windowfocus --sync "$wid"
    xdotool key --clearmodifiers alt+s
    within 600 some_copied || fail "nothing reached the stick"
    kill -STOP "$driver"
    # The run must be held by the driver (nothing here may look at the stick any more).
    held() { cat /proc/"$pid"/task/*/wchan 2>/dev/null | grep -q request_wait_answer; }
    within 100 held || fail "the run was not held by the stopped driver (did it end before?)"

    if [[ $mode == exit ]]; then
        xdotool windowfocus --sync "$wid"
        before=$(xdotool search --onlyvisible --class tarnwick 2>/dev/null | wc -l)
        xdotool key --clearmodifiers alt+f
        within 50 test "$(xdotool search --onlyvisible --class tarnwick 2>/dev/null | wc -l)" -gt "$before" ||
            fail "the File menu did not open while the run was held"
        xdotool key e  # "&Exit"
        shown() { xdotool search --onlyvisible --class tarnwick >/dev/null 2>&1; }
        within 5 eval '! shown' || fail "a window stayed on the screen after Exit"
        # Windows that exist at all, shown or not: the server removes them with their connection.
        exist() { xdotool search --class tarnwick >/dev/null 2>&1; }
        within 20 eval '! exist' || fail "the display connection was still open 2 s after Exit"
        held || fail "the process let go of the stopped driver's request (was it not held?)"
        kill -CONT "$driver"
        trap - EXIT
        within 100 ended "$pid" || fail "the program did not end once the driver answered"
        status=0
        wait "$pid" || status=$?
        [[ $status == 0 ]] || fail "the program ended with status $status"
        exit 0
    fi
    if [[ $mode == kill ]]; then
        kill -KILL "$driver"
        within 100 window_named '^Error during synchronization$' ||
            fail "a stick whose driver died opened no log window"
        # The dialogs have no default button: "OK", centred in the bottom row, is the way out.
        eval "$(xdotool getwindowgeometry --shell "$wid")"
        xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT - 20)) click 1
        within 50 main_window || fail "the main window is gone"
        xdotool windowfocus --sync "$wid"
        before=$(xdotool search --onlyvisible --class tarnwick 2>/dev/null | wc -l)
        xdotool key --clearmodifiers alt+f
        within 50 test "$(xdotool search --onlyvisible --class tarnwick 2>/dev/null | wc -l)" -gt "$before" ||
            fail "the File menu did not open"
        xdotool key e
        within 100 ended "$pid" || fail "the program did not end after Exit"
        trap - EXIT
        wait "$pid" || fail "the program ended with an error"
        exit 0
    fi
    xdotool key --clearmodifiers alt+c  # "&Cancel"
    before=$(xdotool search --onlyvisible --class tarnwick 2>/dev/null | wc -l)
    xdotool key --clearmodifiers alt+f
    within 50 test "$(xdotool search --onlyvisible --class tarnwick 2>/dev/null | wc -l)" -gt "$before" ||
        fail "the File menu did not open after Cancel: the window is frozen"
    xdotool key e  # "&Exit"
    within 30 ended "$pid" || fail "the program did not end within 3 s of Exit"
    # The kernel keeps the ended process until the driver answers its last request.
    kill -CONT "$driver"
    trap - EXIT
    status=0
    wait "$pid" || status=$?
    [[ $status == 0 ]] || fail "the program ended with status $status"
    exit 0
fi

# --- In a mount namespace of its own: the stick and its driver -------------------------------
if [[ ${1:-} == --in-namespace ]]; then
    program=$2 mode=$3
    work=$(mktemp -d /var/tmp/tarnwick-stuck.XXXXXX)
    loop= driver=
    cleanup() {
        set +e
        [[ -n $driver ]] && kill -CONT "$driver" 2>/dev/null
        # A dead driver's mount no longer answers mountpoint: unmounted without asking.
        umount "$work/stick" 2>/dev/null || umount -l "$work/stick" 2>/dev/null
        [[ -n $loop ]] && losetup -d "$loop"
        rm -rf "$work"
    }
    trap cleanup EXIT
    trap 'exit 143' TERM INT HUP

    mkdir -p "$work/app" "$work/src" "$work/stick"
    cp "$program" "$work/app/tarnwick"
    # Enough small files that the run is still copying when the driver stops.
    head -c 4096 /dev/urandom >"$work/one"
    for i in $(seq 1 3000); do cp "$work/one" "$work/src/f$i"; done
    truncate -s 64M "$work/stick.img"
    mkfs.exfat "$work/stick.img" >/dev/null
    loop=$(losetup --show -f "$work/stick.img") || skip "no loop device"
    mount.exfat-fuse "$loop" "$work/stick" >/dev/null
    mkdir "$work/stick/dst"
    driver=$(ps -eo pid=,args= | awk -v dev="$loop" '$2 ~ /mount.exfat/ && $0 ~ dev " " {print $1}')
    [[ -n $driver ]] || fail "the FUSE driver's process was not found"

    write_pair_settings "$work/app/tarnwick.INI" "$work/src" "$work/stick/dst"
    if [[ $mode == term ]]; then
        "$work/app/tarnwick" --synchronize >"$work/out" 2>"$work/err" &
        pid=$!
        some_copied() { (($(find "$work/stick/dst" -type f | wc -l) >= 5)); }
        within 600 some_copied || fail "nothing reached the stick"
        kill -STOP "$driver"
        held() { cat /proc/"$pid"/task/*/wchan 2>/dev/null | grep -q request_wait_answer; }
        within 100 held || fail "the run was not held by the stopped driver (did it end before?)"
        kill -TERM "$pid"
        # While the driver is still stopped.
        within 20 grep -q '^------------ Logging Ends ' "$work/out" ||
            fail "no end line within 2 s of SIGTERM: $(cat "$work/out")"
        grep -q '^Cancelled ' "$work/out" || fail "no Cancelled line"
        grep -q '^Total files copied : [0-9]*\.$' "$work/out" || fail "no total"
        kill -CONT "$driver"
        status=0
        wait "$pid" || status=$?
        [[ $status == 143 ]] || fail "the run ended with status $status, not 143"
        echo "PASS: a run held by a stopped driver wrote its end lines after SIGTERM"
        exit 0
    fi
    xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" bash "$self" --on-display "$work" "$driver" "$mode"
    echo "PASS: the stick's driver held the run ($mode)"
    exit 0
fi

# --- Set-up -----------------------------------------------------------------------------------
program=$(realpath "${1:?usage: stuck_volume_e2e.sh TARNWICK_EXECUTABLE}")
((EUID == 0)) || skip "needs root (mounts a stick)"
for tool in xvfb-run Xvfb xauth xdotool unshare losetup mkfs.exfat mount.exfat-fuse; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
done
[[ -e /dev/fuse ]] || skip "no /dev/fuse"
[[ -e /dev/loop-control ]] || skip "no loop devices"
modes=("${@:2}")
((${#modes[@]})) || modes=(stop exit kill term)
for mode in "${modes[@]}"; do
    unshare -m --propagation private bash "$self" --in-namespace "$program" "$mode"
done

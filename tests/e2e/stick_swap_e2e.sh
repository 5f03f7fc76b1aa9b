#!/usr/bin/env bash
# End to end as a person: an ordinary user saves a destination folder on a camera card (exFAT,
# mounted as a desktop mounts it) through the folder dialog and synchronises onto it. The card is
# then swapped for another card with the same folder, at the same mount point. Started again,
# Synchronize must copy nothing in either direction, and the log window must open with the
# error. Both cards are then in the user's letter memory.
#
# Usage: stick_swap_e2e.sh TARNWICK_EXECUTABLE [SCREENSHOT_FOLDER]
# Exits 77 (skipped) without root, loop devices, FUSE, Xvfb or xdotool.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/helpers.sh"
self=$(realpath "${BASH_SOURCE[0]}")

# Mounts card image $1 at $2 for user $3 as a desktop does; prints the loop device. A desktop has
# udev's links to give an ordinary user the card's serial; here the user may read the device
# instead (a node of its own bound over the loop device's, in this mount namespace only).
mount_card() {
    local loop node
    loop=$(losetup --show -f "$1") || return 1
    node=$1.node
    rm -f "$node"
    mknod -m 0640 "$node" b "$((0x$(stat -c %t "$loop")))" "$((0x$(stat -c %T "$loop")))" &&
        chgrp "$(id -g "$3")" "$node" && mount --bind "$node" "$loop" ||
        { losetup -d "$loop"; return 1; }
    mount.exfat-fuse -o "fmask=0133,dmask=0022,uid=$(id -u "$3"),gid=$(id -g "$3")" \
        "$loop" "$2" >/dev/null || { losetup -d "$loop"; return 1; }
    echo "$loop"
    # The driver's daemon finishes the mount a moment after it starts.
    within 100 mountpoint -q "$2"
}

# --- On the virtual display, as root driving the user's windows ------------------------------
if [[ ${1:-} == --on-display ]]; then
    work=$2 user=$3 home=$4 card=$5 shots=${6:-}
    shot() { [[ -n $shots ]] && import -window root "$shots/$1.png" || true; }
    broken() {
        shot "$1"
        cat "$work/program.log" >&2
        echo "Windows: $(xdotool search --onlyvisible --name . getwindowname %@ 2>/dev/null)" >&2
        echo "On the card: $(ls "$card/DCIM" 2>&1)" >&2
        cat "$home/.local/state/tarnwick/letters" "$work/app/tarnwick.INI" >&2 || true
        fail "$2"
    }
    pids=()
    trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done' EXIT
    cp "$XAUTHORITY" "$home/.Xauthority"
    chown "$user:" "$home/.Xauthority"
    start_as_user() {
        setpriv --reuid="$user" --regid="$user" --init-groups \
            env -i HOME="$home" USER="$user" LOGNAME="$user" PATH=/usr/bin:/bin \
            DISPLAY="$DISPLAY" XAUTHORITY="$home/.Xauthority" QT_QPA_PLATFORM=xcb \
            XDG_RUNTIME_DIR="$work/runtime" "$work/app/tarnwick" >>"$work/program.log" 2>&1 &
        pid=$!
        pids+=("$pid")
        within 300 window_named '^Tarnwick' || broken "no-window" "the main window did not appear"
        main=$wid
        xdotool windowfocus --sync "$main"
    }
    click() {  # window, x (from the right edge when negative), y within it
        eval "$(xdotool getwindowgeometry --shell "$1")"
        local x=$2
        ((x >= 0)) || x=$((WIDTH + x))
        xdotool mousemove $((X + x)) $((Y + $3)) click 1
    }
    add_folder() {  # x, y of the New button, dialog caption, native path
        click "$main" "$1" "$2"
        within 100 window_named "^$3" || broken "no-dialog" "the dialog '$3' did not open"
        xdotool windowfocus --sync "$wid"
        # Typed at once: the dialog turns a native path into a drive path 300 ms after the first
        # key, and a part cut at a separator ("/home/ann/") loses that separator.
        xdotool type --delay 1 "$4"
        sleep 0.6  # the disk information follows the typing 300 ms later
        xdotool key --clearmodifiers alt+s
        within 100 bash -c "! xdotool search --onlyvisible --name '^$3' >/dev/null 2>&1" ||
            broken "dialog-stays" "Save left '$3' open"
        xdotool windowfocus --sync "$main"
    }
    exit_program() {
        xdotool windowfocus --sync "$main"
        xdotool key --clearmodifiers alt+f
        sleep 0.5
        xdotool key e
        within 300 ended "$pid" || fail "the program did not end after Exit"
        wait "$pid" || fail "the program ended with an error"
    }
    src=$home/Documents

    # The folders are saved through the dialog, and a run fills the card.
    start_as_user
    add_folder -22 54 "Please choose a new Source Folder" "$src"
    click "$main" 60 50
    add_folder -22 229 "Please choose a new Destination Folder" "$card/DCIM"
    xdotool key --clearmodifiers alt+s
    within 300 test -f "$card/DCIM/a.jpg" || broken "not-copied" "the first run copied nothing"
    exit_program
    grep -qE '^2_PATH=[D-Z]:\\DCIM.?$' "$work/app/tarnwick.INI" ||
        broken "not-on-card" "the destination was not saved on the card's letter"

    # Another card at the same place, with its own DCIM folder.
    umount "$card"
    umount "$(cat "$work/loop")"  # the user's node
    losetup -d "$(cat "$work/loop")"
    mount_card "$work/card2.img" "$card" "$user" >"$work/loop" || fail "cannot mount the second card"
    setpriv --reuid="$user" --regid="$user" --init-groups sh -c \
        "mkdir '$card/DCIM' && echo 'other card' >'$card/DCIM/b.jpg'"

    start_as_user
    click "$main" 60 50  # the source, as a person looks at it first
    sleep 0.5
    xdotool key --clearmodifiers alt+s
    within 300 window_named '^Error during synchronization' ||
        broken "no-error" "the log window did not open with the error"
    log=$wid
    shot "card-swapped-log"
    [[ ! -e $card/DCIM/a.jpg ]] || fail "the run copied onto the other card"
    [[ ! -e $src/b.jpg ]] || fail "the run copied from the other card"
    eval "$(xdotool getwindowgeometry --shell "$log")"
    xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT - 21)) click 1  # OK, at the bottom
    within 100 bash -c "! xdotool search --onlyvisible --name '^Error during' >/dev/null 2>&1" ||
        broken "log-stays" "the log window did not close"
    exit_program
    exit 0
fi

# --- In a mount namespace of its own: the user, the cards -------------------------------------
if [[ ${1:-} == --in-namespace ]]; then
    program=$2 shots=${3:-}
    work=$(mktemp -d /var/tmp/tarnwick-swap.XXXXXX)
    user=tw$$$RANDOM
    card= made_media=
    cleanup() {
        set +e
        [[ -n $card ]] && mountpoint -q "$card" && { umount "$card" || umount -l "$card"; }
        [[ -s $work/loop ]] && { umount "$(cat "$work/loop")"; losetup -d "$(cat "$work/loop")"; }
        [[ -n $card ]] && rmdir "$card" "$(dirname "$card")"
        [[ -n $made_media ]] && rmdir /media
        id "$user" &>/dev/null && userdel -r -f "$user" 2>/dev/null
        rm -rf "$work"
    }
    trap cleanup EXIT
    trap 'exit 143' TERM INT HUP
    chmod 755 "$work"

    useradd -m -s /bin/sh "$user"
    home=$(getent passwd "$user" | cut -d: -f6)
    mkdir -p "$home/Documents" "$work/runtime" "$work/app"
    echo "a photo" >"$home/Documents/a.jpg"
    cp "$program" "$work/app/tarnwick"
    chown -R "$user:" "$home/Documents" "$work/runtime" "$work/app"
    chmod 700 "$work/runtime"

    # Two cards of one label with serials of their own.
    for n in 1 2; do
        truncate -s 16M "$work/card$n.img"
        mkfs.exfat -L CARD "$work/card$n.img" >/dev/null
        tune.exfat -I "0x${n}1A2B3C4" "$work/card$n.img" >/dev/null
    done
    [[ -d /media ]] || { mkdir /media && made_media=1; }
    card=/media/$user/CARD
    mkdir -p "$card"
    mount_card "$work/card1.img" "$card" "$user" >"$work/loop" || skip "no loop device"
    setpriv --reuid="$user" --regid="$user" --init-groups mkdir "$card/DCIM"

    xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" bash "$self" --on-display "$work" "$user" "$home" \
        "$card" "$shots"
    memory=$home/.local/state/tarnwick/letters
    [[ -f $memory && $(stat -c %U "$memory") == "$user" ]] || fail "no letter memory at $memory"
    [[ $(grep -c 'uuid' "$memory") -ge 2 ]] || fail "the two cards are not remembered: $(cat "$memory")"
    echo "PASS: the swapped card received nothing and the log opened"
    exit 0
fi

# --- Set-up -----------------------------------------------------------------------------------
program=${1:?usage: stick_swap_e2e.sh TARNWICK_EXECUTABLE [SCREENSHOT_FOLDER]}
shots=${2:+$(realpath "$2")}
((EUID == 0)) || skip "needs root (adds a user, mounts cards)"
for tool in xvfb-run Xvfb xauth xdotool useradd setpriv unshare losetup mkfs.exfat tune.exfat \
    mount.exfat-fuse; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
done
[[ -e /dev/fuse ]] || skip "no /dev/fuse"
[[ -e /dev/loop-control ]] || skip "no loop devices"
[[ -z $shots ]] || command -v import >/dev/null || fail "import (ImageMagick) is needed for screenshots"
exec unshare -m --propagation private bash "$self" --in-namespace "$(realpath "$program")" "$shots"

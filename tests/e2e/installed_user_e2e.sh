#!/usr/bin/env bash
# End to end as a person on a desktop uses it: the Debian package is unpacked into a prefix that
# only root may write, and a new unprivileged user starts the installed program the way the
# desktop entry's Exec line says, on a virtual X display. Through the folder dialog (typing
# native paths) the user adds a source and a destination, synchronises and exits; started again,
# the program still lists both (a second run copies a new file), and the settings file is the
# user's own copy under the home folder while the installed folder is unchanged. Then Copy and
# Run copies the program onto an exFAT stick mounted as a desktop mounts it, for the user and
# with no execute bit on its files; the copy must start (its caption names the stick folder)
# and the first instance must end.
#
# Usage: installed_user_e2e.sh BUILD_FOLDER TARNWICK_EXECUTABLE [SCREENSHOT_FOLDER]
# The package is BUILD_FOLDER/tarnwick_*.deb; it is made with cpack when it is missing or older
# than the executable. Exits 77 (skipped) without root, loop devices, FUSE, Xvfb or xdotool.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/helpers.sh"
self=$(realpath "${BASH_SOURCE[0]}")

# --- On the virtual display, as root driving the user's windows ------------------------------
if [[ ${1:-} == --on-display ]]; then
    work=$2 user=$3 home=$4 exec_line=$5 installed=$6 stick=$7 shots=${8:-}
    shot() {  # name [window]: without a window manager no caption is drawn, so it is written on
        [[ -n $shots ]] || return 0
        import -window root "$shots/$1.png" || return 0
        [[ -n ${2:-} ]] || return 0
        local caption
        caption=$(xdotool getwindowname "$2")
        caption=${caption//\\/\\\\}  # -annotate reads backslash escapes
        convert "$shots/$1.png" -font DejaVu-Sans -fill white -pointsize 16 -gravity north \
            -annotate +0+12 "Window caption: $caption" "$shots/$1.png" || true
    }
    broken() {  # screenshot name, message: what was on the screen, what the program said
        shot "$1"
        echo "Windows on the display:" >&2
        for w in $(xdotool search --onlyvisible --name . 2>/dev/null); do
            echo "  $(xdotool getwindowname "$w" 2>/dev/null)" >&2
        done
        cat "$work/program.log" >&2
        fail "$2"
    }
    no_window_named() {
        ! window_named "$1"
    }
    pids=()
    trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done' EXIT

    # The user's own X authority; the session the desktop would give: nothing else is passed.
    cp "$XAUTHORITY" "$home/.Xauthority"
    chown "$user:" "$home/.Xauthority"
    start_as_user() {  # runs the Exec line as the user, in the home folder; sets pid
        setpriv --reuid="$user" --regid="$user" --init-groups \
            env -i HOME="$home" USER="$user" LOGNAME="$user" PATH="$installed/usr/bin:/usr/bin:/bin" \
            DISPLAY="$DISPLAY" XAUTHORITY="$home/.Xauthority" QT_QPA_PLATFORM=xcb \
            XDG_RUNTIME_DIR="$work/runtime" \
            sh -c 'cd && exec '"$exec_line" >>"$work/program.log" 2>&1 &
        pid=$!
        pids+=("$pid")
    }
    click() {  # window, x (from the right edge when negative), y within it
        eval "$(xdotool getwindowgeometry --shell "$1")"
        local x=$2
        ((x >= 0)) || x=$((WIDTH + x))
        xdotool mousemove $((X + x)) $((Y + $3)) click 1
    }
    # The list buttons stand in a column at the right of the main window (524 wide as it opens):
    # New source beside the top of the source list, New destination beside the destination list.
    new_source() { click "$main" -22 54; }
    new_destination() { click "$main" -22 229; }
    first_source() { click "$main" 60 50; }
    add_folder() {  # button function, dialog caption, native path
        "$1"
        within 100 window_named "^$2" || broken "no-dialog" "the dialog '$2' did not open"
        local dialog=$wid
        xdotool windowfocus --sync "$dialog"
        xdotool type --delay 20 "$3"
        sleep 0.6  # the disk information follows the typing 300 ms later
        xdotool key --clearmodifiers alt+s
        within 100 no_window_named "^$2" || broken "dialog-stays" "Save left '$2' open"
        xdotool windowfocus --sync "$main"
    }
    exit_program() {  # from the File menu; the status is known for a child of this shell only
        xdotool windowfocus --sync "$main"
        xdotool key --clearmodifiers alt+f
        sleep 0.5
        xdotool key e
        within 300 ended "$pid" || fail "the program did not end after Exit"
        [[ ${1:-} == not-a-child ]] && return 0
        local status=0
        wait "$pid" || status=$?
        [[ $status == 0 ]] || fail "the program ended with status $status"
    }
    main_window() {
        within 300 window_named '^Tarnwick' || broken "no-window" "the main window did not appear"
        main=$wid
        xdotool windowfocus --sync "$main"
    }
    src=$home/Documents dst=$home/Backup

    # First start: two folders added as a person would, then a run and Exit.
    start_as_user
    main_window
    caption=$(xdotool getwindowname "$main")
    program_dir=$installed/usr/lib/tarnwick
    expected="Tarnwick - Location C:${program_dir//\//\\}"
    [[ $caption == "$expected" ]] || fail "caption '$caption', expected '$expected'"
    add_folder new_source "Please choose a new Source Folder" "$src"
    first_source
    add_folder new_destination "Please choose a new Destination Folder" "$dst"
    xdotool key --clearmodifiers alt+s
    within 300 test -f "$dst/a.txt" || broken "not-copied" "the first run copied nothing"
    exit_program

    # Second start: both folders are read back; a new file travels the same way.
    echo "third file" >"$src/c.txt"
    chown "$user:" "$src/c.txt"
    start_as_user
    main_window
    first_source
    sleep 0.5
    shot "installed-restarted" "$main"
    xdotool key --clearmodifiers alt+s
    within 300 test -f "$dst/c.txt" || broken "not-copied-again" "after a restart the folders were not there"

    # Copy and Run onto the stick: the browser opens on the drives; the stick is the last drive
    # (mounted last), its folder Tarnwick its first subfolder.
    xdotool key --clearmodifiers alt+f
    sleep 0.5
    xdotool key c
    within 100 window_named '^Browse for Folder$' || broken "no-browser" "Copy and Run opened no browser"
    xdotool windowfocus --sync "$wid"
    xdotool key End
    sleep 0.3
    xdotool key Right
    sleep 0.5
    xdotool key Down
    sleep 0.3
    shot "copy-and-run-browser"
    xdotool key --clearmodifiers alt+s
    first=$pid
    within 150 window_named 'Location [D-Z]:\\Tarnwick$' || broken "no-copy" "the copy on the stick did not start"
    copy=$wid
    copy_pid=$(xdotool getwindowpid "$copy" 2>/dev/null || true)
    [[ -n $copy_pid ]] && pids+=("$copy_pid")
    within 100 ended "$first" || fail "the first instance stayed open after Copy and Run"
    wait "$first" || fail "the first instance ended with an error"
    [[ -f $stick/Tarnwick/tarnwick && ! -x $stick/Tarnwick/tarnwick ]] ||
        fail "the copy on the stick is missing or has an execute bit"
    sleep 0.5
    shot "copy-started-from-stick" "$copy"
    echo "The copy started from the stick: $(xdotool getwindowname "$copy")"
    if [[ -n $copy_pid ]]; then
        main=$copy pid=$copy_pid
        exit_program not-a-child
    fi
    exit 0
fi

# --- In a mount namespace of its own: the prefix, the user, the stick ------------------------
if [[ ${1:-} == --in-namespace ]]; then
    deb=$2 shots=${3:-}
    work=$(mktemp -d /var/tmp/tarnwick-installed.XXXXXX)
    user=tw$$$RANDOM
    loop= stick= made_media=
    cleanup() {
        set +e
        [[ -n $stick ]] && mountpoint -q "$stick" && { umount "$stick" || umount -l "$stick"; }
        [[ -n $loop ]] && losetup -d "$loop"
        [[ -n $stick ]] && rmdir "$stick" "$(dirname "$stick")"
        [[ -n $made_media ]] && rmdir /media
        id "$user" &>/dev/null && userdel -r -f "$user" 2>/dev/null
        rm -rf "$work"
    }
    trap cleanup EXIT
    trap 'exit 143' TERM INT HUP  # cleaned up on a polite kill as well

    # The package's files under a prefix of root's, readable by all, as dpkg would leave them.
    chmod 755 "$work"
    installed=$work/root
    dpkg-deb -x "$deb" "$installed"
    program_dir=$installed/usr/lib/tarnwick
    listing() { find "$program_dir" -printf '%P %m %U %s %T@\n' | sort; }
    before=$(listing)
    exec_line=$(sed -n 's/^Exec=//p' "$installed/usr/share/applications/tarnwick.desktop" |
        sed 's/ *%[fFuUdDnNickvm]//g')
    [[ -n $exec_line ]] || fail "the desktop entry has no Exec line"

    useradd -m -s /bin/sh "$user"
    home=$(getent passwd "$user" | cut -d: -f6)
    mkdir -p "$home/Documents/sub" "$home/Backup" "$work/runtime"
    echo "first file" >"$home/Documents/a.txt"
    echo "second file" >"$home/Documents/sub/b.txt"
    chown -R "$user:" "$home/Documents" "$home/Backup" "$work/runtime"
    chmod 700 "$work/runtime"

    # An exFAT stick as a desktop mounts it: under /media/<user>, owned by the user, files
    # without an execute bit.
    truncate -s 32M "$work/stick.img"
    mkfs.exfat -L STICK "$work/stick.img" >/dev/null
    loop=$(losetup --show -f "$work/stick.img") || skip "no loop device"
    [[ -d /media ]] || { mkdir /media && made_media=1; }
    stick=/media/$user/STICK
    mkdir -p "$stick"
    mount.exfat-fuse -o "fmask=0133,dmask=0022,uid=$(id -u "$user"),gid=$(id -g "$user")" \
        "$loop" "$stick" >/dev/null
    setpriv --reuid="$user" --regid="$user" --init-groups mkdir "$stick/Tarnwick"

    started=$SECONDS
    xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" bash "$self" --on-display "$work" "$user" "$home" \
        "$exec_line" "$installed" "$stick" "$shots"

    store=$home/.local/share/tarnwick/virtual-store${program_dir}/tarnwick.INI
    [[ -f $store ]] || fail "no settings file at $store"
    [[ $(stat -c %U "$store") == "$user" ]] || fail "$store does not belong to $user"
    grep -qF "PATH=C:${home//\//\\}\\Documents" "$store" || fail "the source is not in $store"
    grep -qF "PATH=C:${home//\//\\}\\Backup" "$store" || fail "the destination is not in $store"
    [[ $(listing) == "$before" ]] || fail "the installed folder changed"
    echo "PASS: installed program run as $user (display part $((SECONDS - started)) s)"
    exit 0
fi

# --- Set-up -----------------------------------------------------------------------------------
build=${1:?usage: installed_user_e2e.sh BUILD_FOLDER TARNWICK_EXECUTABLE [SCREENSHOT_FOLDER]}
program=${2:?usage: installed_user_e2e.sh BUILD_FOLDER TARNWICK_EXECUTABLE [SCREENSHOT_FOLDER]}
shots=${3:+$(realpath "$3")}
((EUID == 0)) || skip "needs root (installs a package, adds a user, mounts a stick)"
for tool in xvfb-run Xvfb xauth xdotool dpkg-deb cpack useradd setpriv unshare losetup \
    mkfs.exfat mount.exfat-fuse; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
done
[[ -e /dev/fuse ]] || skip "no /dev/fuse"
[[ -e /dev/loop-control ]] || skip "no loop devices"
[[ -z $shots ]] || command -v import >/dev/null || fail "import (ImageMagick) is needed for screenshots"

deb=$(ls -t "$build"/tarnwick_*_*.deb 2>/dev/null | head -1 || true)
if [[ -z $deb || $deb -ot $program ]]; then
    (cd "$build" && cpack -G DEB >/dev/null) || fail "cpack could not make the package"
    deb=$(ls -t "$build"/tarnwick_*_*.deb | head -1)
fi
exec unshare -m --propagation private bash "$self" --in-namespace "$deb" "$shots"

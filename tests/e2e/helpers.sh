# Shared by the scripts that drive the real program on a virtual display.

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# Ends the test as skipped (CTest's SKIP_RETURN_CODE).
skip() {
    echo "SKIP: $*"
    exit 77
}

# Polls a condition for up to $1 tenths of a second.
within() {
    local tenths=$1
    shift
    for ((i = 0; i < tenths; i++)); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

# Sets wid to the first visible window whose name matches the regular expression $1.
window_named() {
    wid=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1)
    [[ -n $wid ]]
}

# Whether process $1 is gone, or a zombie waiting to be reaped.
ended() {
    local state
    state=$(ps -o stat= -p "$1" 2>/dev/null) || return 0
    [[ $state == Z* ]]
}

# Writes settings file $1 with one group of this computer: source folder $2 (with subfolders)
# and destination folder $3, both native paths on C: saved without a serial.
write_pair_settings() {
    local computer
    computer=$(hostname | cut -d. -f1 | tr '[:lower:]' '[:upper:]' | cut -c1-15)
    cat >"$1" <<EOF
[1_$computer]
1_PATH=C:${2//\//\\}
1_TYPE=3
1_SERIAL=
1_MERGE=0
1_SUBDIR=1
2_PATH=C:${3//\//\\}
2_TYPE=3
2_SERIAL=
2_MERGE=0
2_SUBDIR=0
EOF
}

# Shared by the scripts that drive the real program on a virtual display.

fail() {
    echo "FAIL: $*" >&2
    exit 1
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

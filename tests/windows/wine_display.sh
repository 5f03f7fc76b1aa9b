# Shared by the scripts that drive tarnwick.exe's windows: a work folder with a wine prefix of
# its own and a virtual X display without a window manager. Source it after ../e2e/helpers.sh;
# `program` may hold the pid of the program started, which the end kills.
source "$(dirname "${BASH_SOURCE[0]}")/wine.sh"

# Sets work, WINEPREFIX and DISPLAY; $1 names the work folder, $2 is the screen's size.
start_wine_display() {
    work=$(mktemp -d "/tmp/$1-XXXXXX")
    export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    xvfb="" program=""
    trap end_wine_display EXIT
    local n display=""
    for n in $(seq 140 199); do
        if [[ ! -e /tmp/.X11-unix/X$n && ! -e /tmp/.X$n-lock ]]; then
            display=$n
            break
        fi
    done
    [[ -n $display ]] || skip "no free display number"
    Xvfb ":$display" -screen 0 "$2x24" -nolisten tcp >/dev/null 2>&1 &
    xvfb=$!
    export DISPLAY=:$display
    make_wine_prefix
    within 100 test -e "/tmp/.X11-unix/X$display" || fail "Xvfb did not start"
}

end_wine_display() {
    [[ -n $program ]] && kill "$program" 2>/dev/null || true
    end_wine_server
    [[ -n $xvfb ]] && kill "$xvfb" 2>/dev/null || true
    rm -rf "$work"
}

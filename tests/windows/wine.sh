# Shared by the scripts that run tarnwick.exe under wine: a wine prefix of the script's own, made
# with a retry and ended so that no wine server is left behind for the next prefix, and the
# settings' pieces. Source it after ../e2e/helpers.sh, with WINEPREFIX set.

# Wine keys its server by the prefix folder's inode: a prefix made where a removed one was can
# meet that one's server while it is still going down, and wineboot fails. The server is ended
# and waited for, and the prefix made anew, up to three times; the last failure shows its output.
make_wine_prefix() {
    local try log=${WINEPREFIX%/}.boot.log
    for try in 1 2 3; do
        if wineboot -i >"$log" 2>&1; then
            rm -f "$log"
            return 0
        fi
        end_wine_server
        rm -rf "$WINEPREFIX"
        sleep "$try"
    done
    fail "wineboot could not make a prefix: $(tail -n 5 "$log" | tr '\n' ' ')"
}

end_wine_server() {
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
}

# Wine's Z: is the Linux root.
winpath() { local p=${1//\//\\}; echo "Z:$p"; }

# The computer's name as the program gives it, for the settings' sections.
computer=$(hostname | cut -d. -f1 | tr '[:lower:]' '[:upper:]' | cut -c1-15)

# One folder's keys: number, drive path, merge, subfolders, and the drive type (3, a fixed disk,
# unless given) and serial (none unless given).
entry() {
    printf '%s_PATH=%s\n%s_TYPE=%s\n%s_SERIAL=%s\n%s_MERGE=%s\n%s_SUBDIR=%s\n' \
        "$1" "$2" "$1" "${5:-3}" "$1" "${6:-}" "$1" "$3" "$1" "$4"
}

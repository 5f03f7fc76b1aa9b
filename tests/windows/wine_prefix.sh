# A wine prefix of the script's own: made with a retry, and ended so that no wine server is
# left behind for the next prefix. Source it after ../e2e/helpers.sh, with WINEPREFIX set.

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

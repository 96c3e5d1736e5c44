# Evidence for the tests: each stand-in appends one line per call to
# $FAKEMAC_DIR/calls.log, "time<TAB>tool<TAB>arg<TAB>arg...". Without
# FAKEMAC_DIR a stand-in still works, it only leaves no evidence.
record() {
    # Where the daemon's stdin was closed, a pipe of its own can take its
    # place: a command would then read its own output as its input.
    if ! { : 3<&0; } 2>/dev/null || { [ -p /proc/$$/fd/1 ] && [ /proc/$$/fd/0 -ef /proc/$$/fd/1 ]; }; then
        echo "fakemac: ${0##*/}: stdin is closed or is its own stdout" >&2
    fi
    [ -n "${FAKEMAC_DIR:-}" ] || return 0
    local line arg
    # bash 3 on a real Mac has no EPOCHREALTIME; whole seconds do there.
    line=${EPOCHREALTIME:-$(date +%s)}$'\t'${0##*/}
    for arg in "$@"; do
        line+=$'\t'$arg
    done
    printf '%s\n' "$line" >> "$FAKEMAC_DIR/calls.log"
}

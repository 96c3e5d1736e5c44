# Evidence for the tests: each stand-in appends one line per call to
# $FAKEMAC_DIR/calls.log, "time<TAB>tool<TAB>arg<TAB>arg...". Without
# FAKEMAC_DIR a stand-in still works, it only leaves no evidence.
record() {
    [ -n "${FAKEMAC_DIR:-}" ] || return 0
    local line arg
    # bash 3 on a real Mac has no EPOCHREALTIME; whole seconds do there.
    line=${EPOCHREALTIME:-$(date +%s)}$'\t'${0##*/}
    for arg in "$@"; do
        line+=$'\t'$arg
    done
    printf '%s\n' "$line" >> "$FAKEMAC_DIR/calls.log"
}

# Evidence for the tests: each stand-in appends one line per call to
# $FAKEMAC_DIR/calls.log, "time<TAB>tool<TAB>arg<TAB>arg...". Without
# FAKEMAC_DIR a stand-in still works, it only leaves no evidence.

# complain TEXT: on stderr and, since stderr may be what is wrong, in
# $FAKEMAC_DIR/complaints.
complain() {
    echo "fakemac: ${0##*/}: $*" >&2
    [ -z "${FAKEMAC_DIR:-}" ] || echo "fakemac: ${0##*/}: $*" >>"$FAKEMAC_DIR/complaints"
}

# Seconds since the epoch, to the microsecond: bash 3 on a Mac has no
# EPOCHREALTIME, but every Mac has perl.
fakemac_now() {
    if [ -n "${EPOCHREALTIME:-}" ]; then
        echo "$EPOCHREALTIME"
    else
        perl -MTime::HiRes=time -e 'printf "%.6f\n", time' 2>/dev/null || echo "$(date +%s).000000"
    fi
}

record() {
    # Where the daemon's stdin was closed, a pipe of its own can take its
    # place: a command would then read its own output as its input.
    if ! { : 3<&0; } 2>/dev/null || { [ -p /proc/$$/fd/1 ] && [ /proc/$$/fd/0 -ef /proc/$$/fd/1 ]; }; then
        complain "stdin is closed or is its own stdout"
    fi
    # Where the daemon's stderr was closed, a file a command opens takes its
    # place and receives its error messages: bash's own script file does.
    if ! : 3>&2 || [ /dev/fd/2 -ef "$0" ]; then
        complain "stderr is closed"
    fi
    [ -n "${FAKEMAC_DIR:-}" ] || return 0
    local line arg
    line=$(fakemac_now)$'\t'${0##*/}
    for arg in "$@"; do
        line+=$'\t'$arg
    done
    printf '%s\n' "$line" >> "$FAKEMAC_DIR/calls.log"
}

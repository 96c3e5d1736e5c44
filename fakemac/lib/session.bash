# Runs one edition in a stand-in Mac and shows, as they happen, the lines it
# writes and the commands it starts. Sourced by the demo. bash 3.2 and the
# BSD tools of a Mac do, as well as Linux's.

source "${BASH_SOURCE[0]%/*}/record.bash"

fakemac_root=$(cd "${BASH_SOURCE[0]%/*}/../.." && pwd)

# Builds both programs into the folder BUILD, so that the admin's build/ and
# the source tree stay as they were.
fakemac_build() {
    cmake -S "$fakemac_root" -B "$1" -DBUILD_TESTING=OFF >/dev/null
    cmake --build "$1" -j2 --target voskeld voskeld-continuous >/dev/null
}

# Seconds since fakemac_session began, from a time in seconds.microseconds.
fakemac_elapsed() {
    local micros=${1/./}
    micros=$(( 10#$micros - fakemac_start_micros ))
    printf '%3d.%d s' $(( micros / 1000000 )) $(( micros / 100000 % 10 ))
}

fakemac_show_lines() {
    local name=$1 line
    while IFS= read -r line; do
        printf '%s  %-19s| %s\n' "$(fakemac_elapsed "$(fakemac_now)")" "$name" "$line"
    done
}

# Shows each recorded call; a diskutil call with the listing it answered.
fakemac_show_calls() {
    local dir=$1 time args arg shown listings=0 state
    while IFS=$'\t' read -r -a args; do
        time=${args[0]}
        shown=""
        for arg in "${args[@]:1}"; do
            [[ $arg == *" "* ]] && arg="'$arg'"
            shown+=" $arg"
        done
        if [ "${args[1]}" = diskutil ] && [ -s "$dir/raid-sequence" ]; then
            listings=$((listings + 1))
            state=$(sed -n "${listings}p" "$dir/raid-sequence")
            shown+="   -> ${state:-$(sed -n '$p' "$dir/raid-sequence")}"
        fi
        printf '%s    started:%s\n' "$(fakemac_elapsed "$time")" "$shown"
    done
}

# Stops the session's daemon, everything it left running, and the log reader.
fakemac_stop() {
    [ -z "${fakemac_pid:-}" ] || kill -TERM -- "-$fakemac_pid" 2>/dev/null || true
    [ -z "${fakemac_pid:-}" ] || wait "$fakemac_pid" 2>/dev/null || true
    fakemac_pid=""
    if [ -n "${fakemac_tails:-}" ]; then
        sleep 0.3
        kill -- "-$fakemac_tails" 2>/dev/null || true
        wait "$fakemac_tails" 2>/dev/null || true
    fi
    fakemac_tails=""
}

# fakemac_session PROGRAM SECONDS DIR: runs PROGRAM for SECONDS with the
# stand-ins in charge of DIR (its voskeld.conf and raid-sequence), then stops
# it and everything it started.
fakemac_session() {
    local program=$1 seconds=$2 dir=$3 name
    name=${program##*/}
    : >"$dir/calls.log"
    fakemac_start_micros=$(fakemac_now)
    fakemac_start_micros=$(( 10#${fakemac_start_micros/./} ))
    # Job control gives the log reader and the daemon process groups of their
    # own, so that stopping the daemon also stops the alarm sounds it left
    # running. They no longer hear Ctrl-C: the trap below passes it on.
    trap 'fakemac_stop; exit 130' INT TERM
    set -m
    tail -n +1 -F "$dir/calls.log" 2>/dev/null | fakemac_show_calls "$dir" &
    fakemac_tails=$!
    # stderr is shown through fd 3, set before stdout goes to its own reader.
    PATH="$fakemac_root/fakemac/bin:$PATH" FAKEMAC_DIR=$dir \
        "$program" 3>&1 > >(fakemac_show_lines "$name") 2> >(fakemac_show_lines "$name stderr" >&3) 3>&- &
    fakemac_pid=$!
    set +m
    sleep "$seconds"
    fakemac_stop
    trap - INT TERM
}

# Counts the calls in DIR's log whose arguments, joined by blanks, are LINE.
fakemac_count() {
    local dir=$1 line=$2
    cut -f2- "$dir/calls.log" | tr '\t' ' ' | grep -cxF -- "$line" || true
}

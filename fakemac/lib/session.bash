# Runs one edition in a stand-in Mac and shows, as they happen, the lines it
# writes and the commands it starts. Sourced by the demo and the fire drill.

fakemac_root=$(cd "${BASH_SOURCE[0]%/*}/../.." && pwd)

# Builds both programs into build/ unless told where they are.
fakemac_build() {
    local build=$fakemac_root/build
    cmake -S "$fakemac_root" -B "$build" >/dev/null
    cmake --build "$build" -j2 --target voskeld voskeld-continuous >/dev/null
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
        printf '%s  %-19s| %s\n' "$(fakemac_elapsed "$EPOCHREALTIME")" "$name" "$line"
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

# fakemac_session PROGRAM SECONDS DIR: runs PROGRAM for SECONDS with the
# stand-ins in charge of DIR (its voskeld.conf and raid-sequence), then stops
# it and everything it started. PATH_FIRST may name the folder whose tools
# come first on PATH (the stand-ins by default).
fakemac_session() {
    local program=$1 seconds=$2 dir=$3 name pid tails
    name=${program##*/}
    : >"$dir/calls.log"
    fakemac_start_micros=${EPOCHREALTIME/./}
    fakemac_start_micros=$(( 10#$fakemac_start_micros ))
    tail -s 0.1 -n +1 -F "$dir/calls.log" 2>/dev/null | fakemac_show_calls "$dir" &
    tails=$!
    # Job control gives the daemon a process group of its own, so that
    # stopping it also stops the alarm sounds it left running.
    set -m
    PATH="${PATH_FIRST:-$fakemac_root/fakemac/bin}:$PATH" FAKEMAC_DIR=$dir \
        "$program" > >(fakemac_show_lines "$name") 2> >(fakemac_show_lines "$name stderr") &
    pid=$!
    set +m
    sleep "$seconds"
    kill -TERM -- "-$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    sleep 0.3
    pkill -P "$tails" 2>/dev/null || true
    kill "$tails" 2>/dev/null || true
    wait "$tails" 2>/dev/null || true
}

# Counts the calls in DIR's log whose arguments, joined by blanks, are LINE.
fakemac_count() {
    local dir=$1 line=$2
    cut -f2- "$dir/calls.log" | tr '\t' ' ' | grep -cxF -- "$line" || true
}

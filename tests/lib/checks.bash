# Shared by the checks of the install, the preflight, the drill and the log
# rotation: a scratch folder, the build installed into a stand-in Mac root
# with the stand-ins and the few real tools a job's PATH finds, and the
# drill's verdict as a management tool reads it.
#   source tests/lib/checks.bash [BUILD]     build/ by default
set -euo pipefail
root=$(cd "${BASH_SOURCE[0]%/*}/../.." && pwd)
source "$root/fakemac/lib/session.bash"
check=${0##*/}
build=${1:-$root/build}
mkdir -p "$build"
build=$(cd "$build" && pwd)
work=$(mktemp -d)
# Processes a row starts, killed should the row fail.
started=""

fail() {
    echo "$check: $*" >&2
    exit 1
}

cleanup() {
    local pid job supervisor
    for pid in $started; do
        kill -- "-$pid" 2>/dev/null || kill "$pid" 2>/dev/null || true
    done
    # The jobs still loaded in the stand-in launchd, supervisor first.
    for job in "$work"/fakemac/launchd/*/*; do
        [ -f "$job" ] && read -r pid _ _ supervisor <"$job" || continue
        kill -KILL ${supervisor:+"$supervisor"} 2>/dev/null || true
        kill -KILL -- "-$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

# The checks run side by side on one build: one configure, build or install
# at a time, and the install's manifest read before the next install.
lock() {
    exec 8>>"$build/.checks.lock"
    flock 8
}
unlock() {
    flock -u 8
}

lock
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j2 --target voskeld voskeld-continuous >/dev/null
unlock

# make_mac: the build installed into the stand-in root $mac at /opt/voskeld,
# with the stand-ins, the few real tools they, the daemons' pipelines and the
# drill need on launchd's PATH, the alarm's files, and a user at the screen.
make_mac() {
    local tool
    mac=$work/mac
    sbin=$mac/opt/voskeld/sbin
    drill=$sbin/voskeld-firedrill
    mkdir -p "$mac/usr/bin" "$mac/usr/sbin" "$mac/usr/libexec" "$mac/bin" "$mac/sbin" "$mac/etc" "$mac/dev" \
        "$mac/Applications/Voskel.app" "$work/tmp"
    lock
    DESTDIR=$mac cmake --install "$build" --prefix /opt/voskeld >/dev/null
    unlock
    export VOSKELD_FIREDRILL_ROOT=$mac FAKEMAC_DIR=$work/fakemac TMPDIR=$work/tmp
    for tool in osascript afplay open python cat who; do
        stand_in "$tool" "$mac/usr/bin"
    done
    stand_in diskutil "$mac/usr/sbin"
    stand_in launchctl "$mac/bin"
    stand_in PlistBuddy "$mac/usr/libexec"
    ln -s /bin/sh "$mac/bin/sh"
    for tool in bash grep awk cut sed sleep date tr mkdir; do
        ln -s "$(command -v "$tool")" "$mac/usr/bin/$tool"
    done
    touch "$mac/usr/bin/voskeldemail.py" "$mac/usr/bin/voskeld.wav" "$mac/dev/console"
    chmod 755 "$mac/usr/bin"
    # The user at the screen, as the owner of /dev/console tells.
    chown 501 "$mac/dev/console" 2>/dev/null || true
    console=$(stat -c %u "$mac/dev/console")
    mkdir "$FAKEMAC_DIR"
    ln -s "$mac/etc/voskeld.conf" "$FAKEMAC_DIR/voskeld.conf"
    echo "delayseconds=60" >"$mac/etc/voskeld.conf"
    # Where the installed job is loaded: root drills a LaunchDaemon, anyone
    # else the LaunchAgent of the user at the screen, who is then that user.
    if [ "$(id -u)" = 0 ]; then home=system; else home=gui/$console; fi
    home_jobs=$FAKEMAC_DIR/launchd/${home//\//_}
}

# The stand-ins find their library beside them, and their evidence where
# FAKEMAC_DIR says even in a job, to which launchd gives a clean environment.
stand_in() {  # stand_in TOOL FOLDER
    printf '#!/bin/sh\nFAKEMAC_DIR="%s" exec "%s" "$@"\n' "$FAKEMAC_DIR" "$root/fakemac/bin/$1" >"$2/$1"
    chmod +x "$2/$1"
}

loaded() {  # loaded DOMAIN LABEL [PID]: a job the stand-in launchctl has loaded
    mkdir -p "$FAKEMAC_DIR/launchd/${1//\//_}"
    if [ -n "${3-}" ]; then echo "$3 1 never"; else echo "- 0 never"; fi >"$FAKEMAC_DIR/launchd/${1//\//_}/$2"
}

# A watcher's process, which runs only once it has outlived launchd's
# 10-second throttle.
start_watcher() {
    sleep 100000 &
    watcher=$!
    started="$started $watcher"
    until [ "$(ps -o etime= -p "$watcher" | awk -F: '{ print $NF + 60 * $(NF - 1) }')" -ge 10 ]; do sleep 0.5; done
}

# calls_of TEXT: how many calls of the stand-ins match TEXT (tab-separated).
calls_of() {
    grep -cE -- "$1" "$FAKEMAC_DIR/calls.log" || true
}

# check_drill NAME STATUS PATTERN ARG...: the drill exits with STATUS and
# prints a line matching PATTERN.
check_drill() {
    local name=$1 expected=$2 pattern=$3 output status=0
    shift 3
    output=$(dash "$drill" "$@" 2>&1) || status=$?
    if [ "$status" != "$expected" ] || ! grep -qE -- "$pattern" <<<"$output"; then
        echo "$output" >&2
        fail "drill, $name: exit $status, expected $expected and a line matching '$pattern'"
    fi
    # A management tool reads the last line; an error of set-up comes first.
    case $status in
        2) ! grep -q '^Preflight:' <<<"$output" || fail "drill, $name: the preflight ran before the error" ;;
        *) [ "$1" = --help ] || tail -n 1 <<<"$output" |
            grep -qE '^result=(whole|blocked|broken) watcher=(running|stopped|none|unknown) pid=([0-9]+|-) fail=[0-9]+ blocked=[0-9]+ note=[0-9]+ raid=(online|degraded|failed|none|unknown)$' ||
            fail "drill, $name: the last line is no result line" ;;
    esac
    # A management tool reads the verdict from the last line alone.
    [ "$1" = --help ] || case $status:$(tail -n 1 <<<"$output") in
        0:result=whole\ watcher=running* | 3:result=blocked\ watcher=running* | 1:result=broken* | 1:*\ watcher=[nsu]* | 2:*) ;;
        *) fail "drill, $name: exit $status, but the last line says $(tail -n 1 <<<"$output")" ;;
    esac
}

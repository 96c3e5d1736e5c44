# The preflight of voskeld-firedrill, which sources this file: one line per
# outside piece the alarm chain needs, and whether a watcher runs. It needs
# root (the stand-in root, or empty), job_path, sbin and work from the drill.
# shellcheck shell=sh

problems=0
blocked=0
notes=0
launchctl=""
launchd_era=none
watcher_state=unknown
watcher_pid=""

# say STATE WHAT TEXT: one line of the preflight, in one of four states: ok,
# note, FAIL (missing or wrong), blocked (this Mac cannot have it as set up).
say() {
    printf '%-4s  %-14s %s\n' "$1" "$2" "$3"
    case $1 in
        FAIL) problems=$((problems + 1)) ;;
        blocked) blocked=$((blocked + 1)) ;;
        note) notes=$((notes + 1)) ;;
    esac
}

# The last line, for a management tool: fixed words in a fixed order.
result_line() {
    result=whole
    [ "$blocked" = 0 ] || result=blocked
    [ "$problems" = 0 ] || result=broken
    echo "result=$result watcher=$watcher_state pid=${watcher_pid:--} fail=$problems blocked=$blocked note=$notes"
}

# 0 whole with a watcher running; 3 a watcher running and only what this Mac
# cannot have missing; 1 otherwise.
result_status() {
    [ "$problems" = 0 ] && [ "$watcher_state" = running ] || return 1
    [ "$blocked" = 0 ] || return 3
}

# System Integrity Protection, from 10.11 on, keeps everything out of /usr/bin.
sip_on() {
    found=$(on_job_path csrutil) || return 1
    "$found" status 2>/dev/null | grep -q 'System Integrity Protection status: enabled'
}

# missing_in_usr_bin WHAT PATH WHY: FAIL, or blocked where SIP forbids it.
missing_in_usr_bin() {
    if sip_on; then
        say blocked "$1" "no $2, and System Integrity Protection keeps it from /usr/bin: $3; this cannot be mended while SIP is on"
    else
        say FAIL "$1" "no $2: $3"
    fi
}

# Prints where the job's PATH finds NAME; fails when it does not.
on_job_path() {
    set -f
    old_ifs=$IFS
    IFS=:
    for dir in $job_path; do
        if [ -f "$dir/$1" ] && [ -x "$dir/$1" ]; then
            IFS=$old_ifs
            set +f
            printf '%s\n' "$dir/$1"
            return 0
        fi
    done
    IFS=$old_ifs
    set +f
    return 1
}

# The uid that owns PATH: for /dev/console, the user logged in at the screen.
owner_of() {
    # shellcheck disable=SC2046 # the fields of ls are wanted split
    set -- $(ls -ldn "$1")
    printf '%s\n' "$3"
}

# Prints why PATH can be changed by someone other than the owner of the root.
open_to_others() {
    # shellcheck disable=SC2046
    set -- $(ls -ldn "$1")
    case $1 in
        ?????w*) echo "writable by its group" ;;
        ????????w*) echo "writable by everyone" ;;
        *) [ "$3" = "$root_owner" ] || echo "owned by uid $3, not root" ;;
    esac
}

check_tool() {  # check_tool NAME WHY
    if found=$(on_job_path "$1"); then
        say ok "$1" "$found"
    else
        say FAIL "$1" "not on the job's PATH ($job_path): $2"
    fi
}

check_mail_script() {
    mail=$root/usr/bin/voskeldemail.py
    if [ ! -f "$mail" ]; then
        missing_in_usr_bin "mail script" /usr/bin/voskeldemail.py "no alert mail can be sent"
        return
    fi
    why=$(open_to_others "$mail")
    where=it
    if [ -z "$why" ]; then
        why=$(open_to_others "${mail%/*}")
        where="its folder"
    fi
    if [ -n "$why" ]; then
        say FAIL "mail script" "/usr/bin/voskeldemail.py: $where is $why; a LaunchDaemon runs it as root, so nobody else may change it"
    else
        say ok "mail script" "/usr/bin/voskeldemail.py, changed only by root"
    fi
}

check_file() {  # check_file PATH WHAT WHY
    if [ -e "$root$1" ]; then
        say ok "$2" "$1"
    elif [ "${1%/*}" = /usr/bin ]; then
        missing_in_usr_bin "$2" "$1" "$3"
    else
        say FAIL "$2" "no $1: $3"
    fi
}

# python matters only for a mail script that can be there.
check_python() {
    if found=$(on_job_path python); then
        say ok python "$found"
    elif [ ! -f "$root/usr/bin/voskeldemail.py" ] && sip_on; then
        say note python "not on the job's PATH ($job_path), and no use while the mail script cannot be in /usr/bin"
    else
        say FAIL python "not on the job's PATH ($job_path): it runs the mail script; macOS 12.3 and later ship none, and then no mail is sent while the log still says \"Alert email sent.\"; set a PATH that finds one in the job's plist (EnvironmentVariables)"
    fi
}

# The interval as the daemon itself reads it, from its second line: a copy
# of its rules here would sooner or later disagree with it.
daemon_interval() {
    mkdir "$work/interval" && printf '#!/bin/sh\n' >"$work/interval/diskutil" &&
        chmod +x "$work/interval/diskutil" || return 1
    PATH=$work/interval:$job_path "$sbin/voskeld" >"$work/interval/output" 2>/dev/null &
    asked=$!
    tries=0
    while [ "$tries" -lt 50 ]; do
        lines=$(sed -n '$=' "$work/interval/output" 2>/dev/null)
        [ "${lines:-0}" -lt 2 ] || break
        sleep 0.1
        tries=$((tries + 1))
    done
    kill "$asked" 2>/dev/null
    wait "$asked" 2>/dev/null
    sed -n '2s/^Checking RAID volumes status every \(-*[0-9]*\) seconds$/\1/p' "$work/interval/output"
}

check_interval() {
    conf=/etc/voskeld.conf
    if [ ! -f "$root$conf" ]; then
        say FAIL "configuration" "no $conf: checks follow one another without pause"
        return
    fi
    seconds=$(daemon_interval)
    first=$(grep delayseconds "$root$conf" | grep -v 'delayseconds[^=]*=[[:space:]]*$' | sed -n 1p)
    if [ -z "$seconds" ]; then
        say FAIL "configuration" "$sbin/voskeld did not say which interval it reads from $conf"
    elif [ "$seconds" -le 0 ]; then
        say FAIL "configuration" "$conf gives $seconds, so no pause between checks; the first line holding delayseconds and a value wins: '$first'"
    elif [ "$seconds" -gt 86400 ]; then
        say note "configuration" "$conf: a check every $seconds seconds, $((seconds / 86400)) days between checks; the first line holding delayseconds and a value wins: '$first'"
    elif [ "$seconds" = 1 ]; then
        say ok "configuration" "$conf: a check every second"
    else
        say ok "configuration" "$conf: a check every $seconds seconds"
    fi
}

check_session() {
    user=""
    if found=$(on_job_path who); then
        user=$("$found" | awk '$2 == "console" { print $1; exit }')
    fi
    if [ -n "$user" ]; then
        say ok "GUI session" "$user is logged in at the screen: a LaunchAgent can show the dialog and Voskel"
    else
        say note "GUI session" "nobody is logged in at the screen: a LaunchAgent waits for a login; a LaunchDaemon still checks, sounds and mails"
    fi
}

# A disk utility that cannot reach the RAID driver lists no set, and the
# checks then read healthy for ever: that must be seen before relying on it.
check_raid() {
    if ! found=$(on_job_path diskutil); then
        return
    fi
    listing=$("$found" appleRAID list 2>&1)
    summary=$(printf '%s\n' "$listing" | awk '
        /^Name:/   { sub(/^Name:[ \t]*/, ""); name = $0 }
        /^Status:/ { sub(/^Status:[ \t]*/, ""); sets = sets sep name " " $0; sep = ", "; n++
                     if ($0 != "Online") unwell++ }
        END        { printf "%d %d %s\n", n, unwell, sets }')
    count=${summary%% *}
    rest=${summary#* }
    unwell=${rest%% *}
    sets=${rest#* }
    if [ "$count" = 0 ]; then
        said=$(printf '%s\n' "$listing" | sed -n '/[^[:space:]]/{ p; q; }')
        say FAIL "RAID sets" "none listed, so there is nothing to watch and every check reads OK; diskutil said: '$said'"
    elif [ "$unwell" != 0 ]; then
        say note "RAID sets" "$count: $sets; not all are Online: the RAID needs attention now"
    else
        say ok "RAID sets" "$count: $sets"
    fi
}

# The domains a watcher may be loaded in: the system's, and the graphical
# session of whoever is logged in at the screen. Before 10.10 launchctl sees
# only the jobs of whoever runs it.
watch_domains() {
    if [ "$launchd_era" = list ]; then
        if [ "$(id -u)" = 0 ]; then echo system; else echo "gui/$(id -u)"; fi
        return
    fi
    echo system
    console=$(owner_of "$root/dev/console" 2>/dev/null)
    [ -z "$console" ] || [ "$console" = 0 ] || echo "gui/$console"
}

# launchd_era: print from 10.10 on, list before (launchctl list LABEL), or
# none when this launchctl answers neither.
find_launchd_era() {
    launchd_era=none
    launchctl=$(on_job_path launchctl) || return 0
    if "$launchctl" print system >/dev/null 2>&1; then
        launchd_era=print
    elif "$launchctl" list >/dev/null 2>&1; then
        launchd_era=list
    fi
}

# job_pid DOMAIN/LABEL: the pid of the loaded job, empty when it is loaded
# but not running; fails when it is not loaded.
job_pid() {
    if [ "$launchd_era" = list ]; then
        job=$("$launchctl" list "${1##*/}" 2>/dev/null) || return 1
        printf '%s\n' "$job" | sed -n 's/.*"*PID"* = \([0-9][0-9]*\);.*/\1/p' | sed -n 1p
        return 0
    fi
    job=$("$launchctl" print "$1" 2>/dev/null) || return 1
    printf '%s\n' "$job" | awk '$1 == "pid" && $2 == "=" { print $3; exit }'
}

# Its variables are its own: the drill has an edition and a pid of its own.
check_watchers() {
    find_launchd_era
    if [ "$launchd_era" = none ]; then
        say note "watcher" "this launchctl answers neither 'print' nor 'list': see 'launchctl list | grep com.voskel'"
        return
    fi
    watcher_state=none
    watchers=""
    watcher_count=0
    for watch_domain in $(watch_domains); do
        for watched in voskeld voskeld-continuous; do
            found_pid=$(job_pid "$watch_domain/com.voskel.$watched") || continue
            watcher_count=$((watcher_count + 1))
            watchers="$watchers${watchers:+, }$watch_domain/com.voskel.$watched"
            if [ -n "$found_pid" ]; then
                say ok "watcher" "$watch_domain/com.voskel.$watched is loaded and running, pid $found_pid"
                [ "$watcher_state" = running ] || { watcher_state=running; watcher_pid=$found_pid; }
            else
                [ "$watcher_state" = running ] || watcher_state=stopped
                say FAIL "watcher" "$watch_domain/com.voskel.$watched is loaded but not running: nothing watches through it; if it stays so, launchd is restarting it every 10 seconds (see 'runs' and 'last exit code' in launchctl print, or LastExitStatus in launchctl list)"
            fi
        done
    done
    if [ "$watcher_count" = 0 ]; then
        say FAIL "watcher" "no com.voskel.voskeld or com.voskel.voskeld-continuous is loaded in $(watch_domains | tr '\n' ' ')(see the README, Installing on a Mac): nothing watches the RAID"
    elif [ "$watcher_count" -gt 1 ]; then
        say FAIL "watcher" "$watcher_count watchers are loaded ($watchers): every alarm and mail comes $watcher_count times; boot all but one out"
    fi
}

# The PATH that an installed job of the edition sets for itself, where one
# sets it: the programs then find their tools there, not on launchd's own.
installed_job_path() {
    buddy=$root/usr/libexec/PlistBuddy
    [ -x "$buddy" ] || return 1
    for plist in "$root/Library/LaunchDaemons/com.voskel.$1.plist" "$root/Library/LaunchAgents/com.voskel.$1.plist"; do
        [ -f "$plist" ] && "$buddy" -c 'Print :EnvironmentVariables:PATH' "$plist" 2>/dev/null && return 0
    done
    return 1
}

use_installed_job_path() {
    own=$(installed_job_path "${edition:-voskeld}") || return 0
    [ -n "$own" ] || return 0
    job_path=$(printf '%s\n' "$own" | tr ':' '\n' | sed "s|^|$root|" | paste -s -d : -)
    echo "The installed job sets its own PATH: $own"
}

preflight() {
    root_owner=$(owner_of "${root:-/}")
    echo "Preflight: what the alarm chain needs on this Mac, and whether it watches"
    use_installed_job_path
    check_tool diskutil "no check can run, and every check then reads healthy"
    check_tool osascript "it sets the volume, brings Voskel to the front and shows the dialog"
    check_tool afplay "it plays the alarm sound"
    check_tool open "it opens the companion application (continuous edition)"
    check_python
    check_mail_script
    check_file /usr/bin/voskeld.wav "sound file" "the alarm is silent"
    check_file /Applications/Voskel.app "Voskel" "the companion application, which stops the audio alerts"
    check_interval
    check_session
    check_raid
    check_watchers
}

# The fire drill's preflight: a line for each piece the alarm needs, the RAID
# and the watchers, then the result line. Sourced by voskeld-firedrill, whose
# root, sbin, share, edition, work and timer it reads. It sets job_path (the
# installed job's PATH under the root), launchctl, launchd_era and watchers
# (look_for_watchers, which the drill may call first), and the counts and
# states of the result line; the other functions print their answers.
# shellcheck shell=sh disable=SC2154,SC2012

problems=0 blocked=0 notes=0
launchctl="" launchd_era="" watchers="" watcher_state=unknown watcher_pid="" raid=unknown

# say STATE WHAT TEXT: ok, note, FAIL, or blocked (this Mac cannot have it).
say() {
    printf '%-4s  %-14s %s\n' "$1" "$2" "$3"
    case $1 in FAIL) problems=$((problems + 1)) ;; blocked) blocked=$((blocked + 1)) ;; note) notes=$((notes + 1)) ;; esac
}

result_line() {
    sort -u "$work/hung" >"$work/hung.once" 2>/dev/null
    while IFS= read -r hung; do say FAIL hung "$hung"; done <"$work/hung.once"
    result=whole
    [ "$blocked" = 0 ] || result=blocked
    [ "$problems" = 0 ] || result=broken
    echo "result=$result watcher=$watcher_state pid=${watcher_pid:--} fail=$problems blocked=$blocked note=$notes raid=$raid"
    [ "$problems" = 0 ] && [ "$watcher_state" = running ] || return 1
    [ "$blocked" = 0 ] || return 3
}

on_job_path() {
    (PATH=$job_path && command -v "$1") | grep '^/'
}

# bounded SECONDS COMMAND...: a tool stuck on a sick disk, or a busy launchd,
# is ended, and told in a FAIL line of its own before the result.
bounded() {
    seconds=$1
    shift
    /usr/bin/perl -e "$timer" "$seconds" "$@"
    status=$?
    [ "$status" != 142 ] || echo "${1##*/} ${2-} gave no answer within $seconds seconds" >>"$work/hung"
    return "$status"
}

run_tool() {
    tool=$(on_job_path "$1") && shift && bounded 10 "$tool" "$@" 2>/dev/null
}

usr_bin_closed() {
    case $(run_tool sw_vers -productVersion) in
        10.1[5-9]* | 1[1-9]* | [2-9][0-9]*) echo "the system volume is read-only from 10.15, and sealed from 11, SIP or not" ;;
        *) run_tool csrutil status | grep -q 'status: enabled' && echo "SIP keeps /usr/bin closed" ;;
    esac
}

check_tool() {  # check_tool NAME WHY [PATH]
    found=${3-$(on_job_path "$1")}
    if [ -n "$found" ]; then say ok "$1" "$found"; else say FAIL "$1" "not on the job's PATH ($job_path): $2"; fi
}

check_file() {  # check_file PATH WHAT WHY: blocked where /usr/bin is closed
    [ ! -e "$root$1" ] || { say ok "$2" "$1"; return; }
    why=""
    case $1 in /usr/bin/*) why=$(usr_bin_closed) ;; esac
    if [ -n "$why" ]; then say blocked "$2" "no $1: $3; $why"; else say FAIL "$2" "no $1: $3"; fi
}

adapted() {
    # shellcheck disable=SC2030 # for the adapters alone
    (PATH=$job_path && "$@")
}

# A LaunchDaemon runs the mail script as root: nobody else may change it.
check_mail_owner() {  # check_mail_owner SCRIPT
    for where in "$1" "${1%/*}"; do
        # shellcheck disable=SC2046 # the fields of ls
        set -- $(ls -ldn "$root$where")
        case $1 in
            ?????w* | ????????w*) why="writable by its group or everyone" ;;
            *) [ "$3" != "$root_owner" ] || continue; why="owned by uid $3, not root" ;;
        esac
        say FAIL "mail script" "$where is $why, yet a LaunchDaemon runs it as root"
        return
    done
    say ok "mail script" "$mail, changed only by root"
}

runs_by_itself() {
    # shellcheck disable=SC2046 # the words of the first line
    set -- $(sed -n '1s/^#!//p' "$1")
    case ${1-} in
        /usr/bin/env) tool=$(adapted next_tool "${2-}") ;;
        /*) tool=$root$1 && [ -x "$tool" ] ;;
        *) false ;;
    esac && adapted working_python3 "$tool"
}

# The sound and the mail as the job has them: through our adapters or,
# without them, the files in /usr/bin that the commands name.
check_sound() {
    if [ -z "$adapter_dir" ]; then
        check_tool afplay "no alarm sound"
        check_file /usr/bin/voskeld.wav "sound file" "the alarm is silent"
        return
    fi
    check_tool afplay "no alarm sound" "$(adapted next_tool afplay)"
    sound=$(adapted sound_file)
    file=${sound%%|*} file=${file#"$root"}
    case $file in "$named_sound") say ok "sound file" "$file" ;; *) say ok "sound file" "$file: ${sound#*|}" ;; esac
}

check_mail() {
    mail=/usr/bin/voskeldemail.py
    if [ -z "$adapter_dir" ]; then
        if on_job_path python >/dev/null || [ -f "$root$mail" ] || [ -z "$(usr_bin_closed)" ]; then
            check_tool python "no mail is sent, yet the log says it was; from macOS 12.3, set a PATH to one in the job's plist"
        else say note python "not on the job's PATH, and of no use without the mail script"; fi
        if [ -f "$root$mail" ]; then check_mail_owner "$mail"; else check_file $mail "mail script" "no alert mail can be sent"; fi
        return
    fi
    if ! mail=$(adapted mail_script); then
        say note python "of no use without a mail script"
        say FAIL "mail script" "neither $named_mail nor $site/voskeldemail.py: no alert mail is sent, yet the log says it was; see MAIL in voskeld(8)"
        return
    fi
    runner=$(adapted mail_runner "$mail")
    case $runner in
        "") say FAIL python "no python, no working python3, and $mail cannot run by itself: no alert mail is sent" ;;
        itself) if runs_by_itself "$mail"; then say ok python "none needed: $mail runs by its first line, $(sed -n 1p "$mail")"
                else say FAIL python "no python, no working python3, and the first line of $mail names nothing that runs here"; fi ;;
        */python) say ok python "$runner" ;;
        *) say ok python "$runner, as there is no python" ;;
    esac
    mail=${mail#"$root"}
    check_mail_owner "$mail"
}

# As voskeld reads it, not as a copy of its rules would.
daemon_interval() {
    mkdir "$work/interval" && ln -s /usr/bin/true "$work/interval/diskutil" && : >"$work/interval/output" || return 1
    PATH=$work/interval:$job_path "$sbin/voskeld" >"$work/interval/output" 2>/dev/null &
    tries=0
    until [ "$(sed -n '$=' "$work/interval/output")" -ge 2 ] 2>/dev/null || [ "$tries" -ge 50 ]; do
        sleep 0.1
        tries=$((tries + 1))
    done
    kill $! 2>/dev/null
    wait $! 2>/dev/null
    sed -n '2s/^Checking RAID volumes status every \(-*[0-9]*\) seconds$/\1/p' "$work/interval/output"
}

check_interval() {
    conf=/etc/voskeld.conf
    [ -f "$root$conf" ] || { say FAIL configuration "no $conf: checks without pause"; return; }
    seconds=$(daemon_interval)
    first=$(grep delayseconds "$root$conf" | grep -v 'delayseconds[^=]*=[[:space:]]*$' | sed -n 1p)
    case $seconds in
        "") say FAIL configuration "$sbin/voskeld did not tell its interval" ;;
        0 | -*) say FAIL configuration "$conf gives $seconds, no pause between checks; the first delayseconds with a value wins: '$first'" ;;
        1) say ok configuration "$conf: a check every second" ;;
        ??????*) say note configuration "$conf: every $seconds seconds, $((seconds / 86400)) days between checks" ;;
        *) say ok configuration "$conf: a check every $seconds seconds" ;;
    esac
}

# The RAID now: one that lists no set makes every check read healthy.
check_raid() {
    diskutil=$(on_job_path diskutil) || return 0
    listing=$(bounded 30 "$diskutil" appleRAID list 2>&1)
    sets=$(printf '%s\n' "$listing" | awk '
        /Failed/ { failed = 1 }
        /Missing\/Damaged/ { unwell = 1 }
        /^Name:/ { sub(/^Name:[ \t]*/, ""); name = $0 }
        /^Status:/ { sub(/^Status:[ \t]*/, ""); sets = sets sep name " " $0; sep = ", "; n++; if ($0 != "Online") unwell = 1 }
        END { print (failed ? "failed" : unwell ? "degraded" : n ? "online" : "none") " " n + 0 ": " sets }')
    raid=${sets%% *}
    case $raid in
        none) say FAIL "RAID sets" "none listed: every check reads OK; diskutil said: '$(printf '%s\n' "$listing" | awk 'NF { print; exit }')'" ;;
        online) say ok "RAID sets" "${sets#* }" ;;
        *) say note "RAID sets" "${sets#* }; $raid: it needs attention now" ;;
    esac
}

logged_in_uids() {
    ls -ldn "$root/dev/console" 2>/dev/null | awk '{ print $3 }'
    run_tool who | while read -r name _; do id -u "$name" 2>/dev/null; done
}

# The system and each logged-in user's session; before 10.10, the caller's.
watch_domains() {
    [ "$launchd_era" != list ] || { own_domain; return; }
    echo system
    logged_in_uids | sort -un | awk '$1 > 0 { print "gui/" $1 }'
}

own_domain() {
    if [ "$(id -u)" = 0 ]; then echo system; else echo "gui/$(id -u)"; fi
}

# job_info DOMAIN/LABEL: "PID RUNS LAST" of a loaded job (PID - when not
# running, RUNS - when untold, LAST never, exit:N or signal:N), or a failure.
job_info() {
    case $launchd_era in
        list) job=$(bounded 10 "$launchctl" list "${1##*/}" 2>/dev/null) ;;
        *) job=$(bounded 10 "$launchctl" print "$1" 2>/dev/null) ;;
    esac || return 1
    # list says "KEY" = VALUE; and its LastExitStatus is a wait status.
    printf '%s\n' "$job" | tr ';"' '\n ' | awk '
        ($1 == "pid" || $1 == "PID") && $2 == "=" && pid == "" { pid = $3 }
        $1 == "runs" && $2 == "=" && runs == "" { runs = $3 }
        $1 == "LastExitStatus" && $2 == "=" { last = ($3 % 128) ? "signal:" $3 % 128 : "exit:" int($3 / 256) }
        $1 $2 $3 == "lastexitcode" && last == "" && $5 ~ /^-?[0-9]/ { last = "exit:" ($5 + 0) }
        $1 $2 $3 == "lastterminatingsignal" && last == "" { last = "signal:" ($NF + 0) }
        END { print (pid == "" ? "-" : pid), (runs == "" ? "-" : runs), (last == "" ? "never" : last) }'
}

# Asks launchd once for its era (print from 10.10, list before, or none) and
# our jobs, "DOMAIN/LABEL PID RUNS LAST" a line, for the drill and the
# preflight both.
look_for_watchers() {
    launchd_era=none
    launchctl=$(on_job_path launchctl) || return 0
    if bounded 10 "$launchctl" print system >/dev/null 2>&1; then launchd_era=print
    elif bounded 10 "$launchctl" list >/dev/null 2>&1; then launchd_era=list; fi
    watchers=$(for in_domain in $(watch_domains); do
        for label in com.voskel.voskeld com.voskel.voskeld-continuous; do
            info=$(job_info "$in_domain/$label") && echo "$in_domain/$label $info"
        done
    done)
}

# steady_pid DOMAIN/LABEL PID RUNS: the pid, where the job outlived launchd's
# 10-second throttle and kept its pid and runs over two looks 2 seconds apart.
steady_pid() {
    [ "$2" != - ] && age=$(ps -o etime= -p "$2" 2>/dev/null | awk -F'[-:]' 'NF { s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; print s }') &&
        [ -n "$age" ] || return 1
    [ "$age" -ge 10 ] || sleep $((10 - age))
    sleep 2
    # shellcheck disable=SC2046 # three words
    set -- "$2" "$3" $(job_info "$1")
    [ "$1" = "$3" ] && [ "$2" = "$4" ] && echo "$1"
}

check_watcher() {  # check_watcher DOMAIN/LABEL PID RUNS LAST
    if found_pid=$(steady_pid "$@"); then
        say ok watcher "$1 is loaded and running, pid $found_pid"
        [ "$watcher_state" = running ] || watcher_state=running watcher_pid=$found_pid
    else
        [ "$watcher_state" = running ] || watcher_state=stopped
        # shellcheck disable=SC2046 # three words
        set -- "$1" $(job_info "$1" || echo "$2 $3 $4")
        case $2:$3:$4 in
            -:0:never | -:-:never) why="launchd has never started it: its plist needs RunAtLoad" ;;
            -:*:exit:*) why="it ended with ${4#exit:}, runs $3: a crash loop, if launchd keeps starting it; see its log" ;;
            -:*:signal:*) why="signal ${4#signal:} ended it, runs $3: stopped by someone, or it crashed; see its log" ;;
            -:*) why="launchd tells nothing of its end, runs $3" ;;
            *) why="it runs again and again, runs $3: a crash loop; see its log" ;;
        esac
        say FAIL watcher "$1 is loaded but not running: $why"
    fi
    [ "$launchd_era" = list ] || ! bounded 10 "$launchctl" print-disabled "${1%/*}" 2>/dev/null | grep -Eq "\"${1##*/}\" => (true|disabled)" ||
        say FAIL watcher "$1 is disabled, so it will not come back after a restart: launchctl enable $1"
}

check_watchers() {
    [ -n "$launchd_era" ] || look_for_watchers
    [ "$launchd_era" != none ] || { say note watcher "launchctl answers neither print nor list"; return; }
    watcher_state=none
    count=$(printf '%s' "$watchers" | grep -c .)
    # shellcheck disable=SC2086 # four words a line
    while read -r line; do [ -z "$line" ] || check_watcher $line; done <<EOF
$watchers
EOF
    if [ "$count" = 0 ] && [ "$launchd_era" = list ] && [ "$(id -u)" = 0 ] && logged_in_uids | grep -qvx 0; then
        watcher_state=unknown
        say note watcher "none in the system domain, and before 10.10 root cannot see a user's LaunchAgent: run --check as each user"
    elif [ "$count" = 0 ]; then
        say FAIL watcher "no com.voskel.voskeld or com.voskel.voskeld-continuous is loaded in $(watch_domains | tr '\n' ' ')so nothing watches"
    elif [ "$count" -gt 1 ]; then
        say FAIL watcher "$count watchers are loaded ($(printf '%s\n' "$watchers" | cut -d' ' -f1 | paste -s -d' ' -)): each alarm comes $count times; boot all but one out"
    fi
    for job in $(bounded 10 "$launchctl" list 2>/dev/null | awk '$3 ~ /^com\.voskel\..*\.firedrill/ { print $3 }'); do
        say note "drill job" "$job is loaded: if no drill runs, launchctl bootout $(own_domain)/$job"
    done
}

preflight() {
    root_owner=$(ls -ldn "${root:-/}" | awk '{ print $3 }')
    echo "Preflight: what the alarm needs, and whether it watches"
    # The installed job's plist, ours where none is in /Library, and its PATH
    # under the root: its own, or launchd's.
    for plist in "$root/Library/LaunchDaemons/com.voskel.$edition.plist" \
        "$root/Library/LaunchAgents/com.voskel.$edition.plist" "$share/LaunchDaemons/com.voskel.$edition.plist"; do
        [ ! -f "$plist" ] || break
    done
    own=$("$root/usr/libexec/PlistBuddy" -c 'Print :EnvironmentVariables:PATH' "$plist" 2>/dev/null) ||
        own=/usr/bin:/bin:/usr/sbin:/sbin
    job_path=$(printf '%s\n' "$own" | tr ':' '\n' | sed "s|^|$root|" | paste -s -d : -)
    echo "The job's PATH, from ${plist#"$root"}: $job_path"
    # Our afplay and python, where the job's PATH puts them first.
    player=$(on_job_path afplay) && adapter_dir=${player%/*} && [ -f "$adapter_dir/adapt.sh" ] || adapter_dir=""
    # shellcheck source=macos/libexec/adapt.sh.in
    [ -z "$adapter_dir" ] || . "$adapter_dir/adapt.sh"
    check_tool diskutil "every check reads healthy"
    check_tool osascript "no volume, Voskel or dialog"
    check_sound
    check_tool open "the continuous edition opens no Voskel"
    check_mail
    check_file /Applications/Voskel.app Voskel "the application that stops the alarm"
    check_interval
    check_raid
    check_watchers
}

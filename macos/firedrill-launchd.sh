# Sourced by voskeld-firedrill for --launchd: the drill's job, made from
# the installed job's plist, loaded in that job's domain and booted out.
# Reads what the drill and its preflight set: root, share, edition, label,
# program, work, bound, timer, job_path, launchctl, watchers.
# shellcheck shell=sh disable=SC2154

# The installed job's domain, from the watchers the preflight then judges,
# or a set-up error.
choose_domain() {
    look_for_watchers
    [ "$launchd_era" = print ] || fail 2 "--launchd needs OS X 10.10 or later: run the drill without --launchd"
    domain=$(printf '%s\n' "$watchers" | sed -n "s|^\(.*\)/com\.voskel\.$edition .*|\1|p" | sed -n 1p)
    uid=${domain#gui/}
    case $domain in
        "$(own_domain)") ;;
        "") fail 2 "no com.voskel.$edition job is loaded: load the installed one first" ;;
        system) fail 2 "com.voskel.$edition is a LaunchDaemon: run the drill with sudo" ;;
        *) fail 2 "com.voskel.$edition is uid $uid's agent: as root, launchctl asuser $uid sudo -u \"#$uid\" $0 --launchd $edition" ;;
    esac
}

# A value as PlistBuddy takes it whole: in quotes, the one it holds none of.
quoted() {
    case $1 in *\"*) echo "'$1'" ;; *) echo "\"$1\"" ;; esac
}

# The installed job's own plist, run at load and once, under the drill's
# label, its program ended by the timer, its output, PATH and evidence the
# drill's.
write_job() {  # write_job KIND PLIST
    buddy=$root/usr/libexec/PlistBuddy
    plist=$root/Library/$1/com.voskel.$edition.plist
    [ -f "$plist" ] || plist=$share/$1/com.voskel.$edition.plist
    cp "$plist" "$2" || return 1
    for key in Label Program ProgramArguments RunAtLoad KeepAlive StandardOutPath StandardErrorPath \
        EnvironmentVariables:PATH; do
        "$buddy" -c "Delete :$key" "$2" >/dev/null 2>&1
    done
    "$buddy" -c "Add :EnvironmentVariables dict" "$2" >/dev/null 2>&1
    "$buddy" -c "Add :Label string $label" -c "Add :RunAtLoad bool true" -c "Add :KeepAlive bool false" \
        -c "Add :ProgramArguments array" -c "Add :ProgramArguments:0 string /usr/bin/perl" \
        -c "Add :ProgramArguments:1 string -e" -c "Add :ProgramArguments:2 string \"$timer\"" \
        -c "Add :ProgramArguments:3 string $((bound + 15))" -c "Add :ProgramArguments:4 string $(quoted "$program")" \
        -c "Add :StandardOutPath string $(quoted "$work/output")" \
        -c "Add :StandardErrorPath string $(quoted "$work/output")" \
        -c "Add :EnvironmentVariables:PATH string $(quoted "$work/bin:$job_path")" \
        -c "Add :EnvironmentVariables:VOSKELD_DRILL_EVIDENCE string $(quoted "$work/evidence")" "$2" >/dev/null &&
        chmod 644 "$2"
}

drill_plain() {
    # A process group of its own, and an end of its own.
    PATH=$work/bin:$job_path VOSKELD_DRILL_EVIDENCE=$work/evidence \
        /usr/bin/perl -e "setpgrp; $timer" $((bound + 15)) "$program" >"$work/output" 2>&1 &
    pid=$!
    wait_for_alarm
}

# Boots the drill's job out, and waits for launchd's stop, which comes later.
boot_out() {
    running=$(job_info "$booted" | cut -d' ' -f1)
    bounded 30 "$launchctl" bootout "$booted" 2>/dev/null
    # On 10.10 bootout does nothing, and remove works.
    ! job_info "$booted" >/dev/null || bounded 30 "$launchctl" remove "$label" 2>/dev/null
    waited=0
    while { job_info "$booted" >/dev/null || kill -0 "${running:--}" 2>/dev/null; } && [ "$waited" -lt 20 ]; do
        sleep 1
        waited=$((waited + 1))
    done
    ! job_info "$booted" >/dev/null || echo "voskeld-firedrill: $booted is still loaded" >&2
    booted=""
}

drill_launchd() {
    kind=LaunchDaemons
    [ "$domain" = system ] || kind=LaunchAgents
    write_job "$kind" "$work/$label.plist" ||
        fail 2 "cannot make the drill's job from the installed com.voskel.$edition.plist"
    echo "As launchd runs it: job $domain/$label."
    # Set first, and bootstrap in the foreground: a signal then waits for
    # launchd's answer, and the exit boots out what it loaded.
    booted=$domain/$label
    bounded 60 "$launchctl" bootstrap "$domain" "$work/$label.plist" >"$work/said" 2>&1 ||
        { bootstrap_failed $? "$(cat "$work/said")"; return 1; }
    wait_for_alarm
    [ -e "$work/asked" ] || ! job_info "$booted" | grep -q '^- 0 ' ||
        say FAIL drill "launchd loaded $booted but never ran it: the alarm would never start"
    boot_out
}

bootstrap_failed() {  # bootstrap_failed STATUS TEXT
    # Whatever ended launchctl, a signal included, launchd alone tells
    # whether it loaded our label.
    job_info "$booted" >/dev/null || booted=""
    case $1:$domain in
        5:* | 37:*) meaning="the label is loaded or stopping, or the plist open to others" ;;
        119:*) meaning="the label is disabled" ;;
        125:gui/*) meaning="no session for uid ${domain#gui/}: nobody at the screen, or ssh" ;;
        125:*) meaning="the domain does not support it" ;;
        133:*) meaning="an invalid plist" ;;
        *) meaning="launchctl error $1" ;;
    esac
    say FAIL drill "launchctl bootstrap $domain failed with $1 ($meaning): $2"
}

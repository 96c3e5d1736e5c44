# The launchd of the stand-in launchctl, which sources it. A loaded job is
# the file $jobs/DOMAIN/LABEL (the domain's slashes made _), "PID RUNS LAST
# SUPERVISOR": PID - while it does not run, LAST never until it first exits.
# Its supervisor plays launchd: a clean environment with the plist's
# EnvironmentVariables over launchd's PATH, / as the working folder, stdout
# and stderr each to its own path, a process group of its own that ends with
# the job's process, and a restart no sooner than 10 seconds after the last
# start while KeepAlive asks for one.
job_file() {  # job_file DOMAIN LABEL
    local domain=$1
    echo "$jobs/${domain//\//_}/$2"
}

# A plist's text as the program gets it.
unescape_xml() {
    sed 's/&lt;/</g; s/&gt;/>/g; s/&amp;/\&/g'
}

# The first string after <key>KEY</key> in PLIST, inside an array or dict.
plist_string() {  # plist_string KEY PLIST
    tr -d '\n\t' <"$2" | sed -n "s|.*<key>$1</key>\(<[a-z]*>\)*<string>\([^<]*\)</string>.*|\2|p" | unescape_xml
}

# Every string of ProgramArguments in PLIST, one a line, as launchd runs them.
program_arguments() {  # program_arguments PLIST
    tr -d '\n\t' <"$1" | sed -n 's|.*<key>ProgramArguments</key><array>\(.*\)</array>.*|\1|p' |
        sed 's|</array>.*||; s|<string>|\n|g; s|</string>||g' | sed 1d | unescape_xml
}

# Each of EnvironmentVariables as NAME=VALUE, one a line.
environment_variables() {  # environment_variables PLIST
    tr -d '\n\t' <"$1" | sed -n 's|.*<key>EnvironmentVariables</key><dict>\([^]]*\)</dict>.*|\1|p' |
        sed 's|</dict>.*||; s|<key>|\n|g; s|</key><string>|=|g; s|</string>||g' | sed 1d | unescape_xml
}

# As much of a plist's validity as a shell can see: whole, and labelled.
valid_plist() {  # valid_plist PLIST
    [ -n "$(plist_string Label "$1")" ] && grep -q '</plist>' "$1" &&
        ! tr -d '\n' <"$1" | sed 's/&[a-z]*;//g' | grep -q '&'
}

alive() {
    local state
    state=$(ps -o stat= -p "$1" 2>/dev/null)
    [ -n "$state" ] && [ "${state#Z}" = "$state" ]
}

# What KeepAlive asks for after an exit: always, never, failed or succeeded
# (SuccessfulExit false or true, which implies a run at load), or crashed.
keep_alive() {  # keep_alive PLIST
    case $(tr -d '\n\t ' <"$1") in
        *'<key>KeepAlive</key><true/>'*) echo always ;;
        *'<key>KeepAlive</key><dict>'*'<key>SuccessfulExit</key><false/>'*) echo failed ;;
        *'<key>KeepAlive</key><dict>'*'<key>SuccessfulExit</key><true/>'*) echo succeeded ;;
        *'<key>KeepAlive</key><dict>'*'<key>Crashed</key><true/>'*) echo crashed ;;
        *) echo never ;;
    esac
}

# A job file is read while its supervisor writes it: whole, by a rename.
put() {  # put FILE LINE
    echo "$2" >"$jobs/.put.$BASHPID" && mv -f "$jobs/.put.$BASHPID" "$1"
}

# Runs the job of FILE from PLIST as launchd does, for as long as KeepAlive asks.
supervise() {  # supervise FILE PLIST
    local file=$1 keep runs=0 last=never pid started out err arguments environment
    # launchd starts its jobs with no signal ignored, whatever launchctl ignores.
    trap - INT TERM
    keep=$(keep_alive "$2")
    mapfile -t arguments < <(program_arguments "$2")
    mapfile -t environment < <(environment_variables "$2")
    out=$(plist_string StandardOutPath "$2")
    err=$(plist_string StandardErrorPath "$2")
    while :; do
        started=$SECONDS
        set -m
        (cd / && exec env -i PATH=/usr/bin:/bin:/usr/sbin:/sbin HOME="$HOME" "${environment[@]}" "${arguments[@]}" \
            >>"${out:-/dev/null}" 2>>"${err:-/dev/null}" </dev/null) &
        pid=$!
        set +m
        runs=$((runs + 1))
        put "$file" "$pid $runs $last $BASHPID"
        wait "$pid"
        last=$?
        # Without AbandonProcessGroup launchd ends what the job left running.
        kill -KILL -- "-$pid" 2>/dev/null
        put "$file" "- $runs $last $BASHPID"
        case $keep:$last in always:* | failed:[1-9]* | succeeded:0 | crashed:1[3-9]? | crashed:2??) ;; *) return ;; esac
        sleep $((started + 10 > SECONDS ? started + 10 - SECONDS : 0))
    done
}

# Where a job that is being stopped keeps its pid until it has ended.
stopping_file() {  # stopping_file FILE
    echo "$jobs/stopping/${1#"$jobs"/}"
}

# Ends the job of FILE as launchd does: at once for the caller, shortly
# after for the job, by SIGKILL once its exit timeout has passed.
stop_job() {  # stop_job FILE
    local pid runs last supervisor stopping
    read -r pid runs last supervisor <"$1"
    # The supervisor first, so that it neither restarts nor records the job.
    if [ -n "$supervisor" ]; then
        kill -KILL "$supervisor" 2>/dev/null
        while alive "$supervisor"; do sleep 0.05; done
        read -r pid runs last supervisor <"$1"
    fi
    rm "$1"
    [ "$pid" != - ] || return 0
    stopping=$(stopping_file "$1")
    mkdir -p "${stopping%/*}"
    echo "$pid" >"$stopping"
    (
        kill -TERM -- "-$pid" 2>/dev/null
        for _ in 1 2 3 4 5 6 7 8 9 10; do
            alive "$pid" || break
            sleep 0.2
        done
        ! alive "$pid" || kill -KILL -- "-$pid" 2>/dev/null
        rm -f "$stopping"
    ) >/dev/null 2>&1 &
}


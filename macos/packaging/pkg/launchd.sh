# Sourced by the package's scripts, to which Installer passes the package
# as $1, the install location as $2 and the target volume as $3. launchd
# is acted on only where the target is the running system; what preinstall
# stops is written where root alone can, and read back by postinstall, or
# by the next preinstall's postinstall when an install was cut short.
# Only what Mac OS X 10.5 has.
# shellcheck shell=sh disable=SC2012

target=$3
root=${3%/}
labels="com.voskel.voskeld com.voskel.voskeld-continuous"
share=$root/usr/local/share/voskeld
state=$root/var/db/voskeld-pkg
record=$state/stopped

say() {
    echo "voskeld: $*"
}

# Another volume (an image being made) has a launchd of its own, at its boot.
on_running_system() {
    [ "$target" = / ]
}

# OS X 10.10 and later: print, bootstrap, bootout; before, load and unload.
modern_launchd() {
    launchctl print system >/dev/null 2>&1
}

owned_by_root() {  # owned_by_root PATH MODE: PATH, not a link, root's, with ls's MODE
    [ ! -L "$1" ] && ls -ldn "$1" 2>/dev/null | awk -v mode="$2" '$1 ~ "^" mode && $3 == 0 { ok = 1 } END { exit !ok }'
}

# The folder of the record, 0700 and root's, or a failure: nothing is then
# stopped, so nothing is lost.
state_folder() {
    owned_by_root "$state" 'drwx------' && return 0
    [ ! -L "$state" ] || rm -f "$state"
    (umask 077 && mkdir -p "$state") && chmod 700 "$state" && owned_by_root "$state" 'drwx------'
}

# The jobs a preinstall stopped and no postinstall has started again: lines
# of our labels in the system or a user's domain, from a plain file of root's.
recorded() {
    owned_by_root "$record" '-rw-------' || return 0
    grep -E '^(system|gui/[0-9]+) com\.voskel\.voskeld(-continuous)?( disabled)?$' "$record" | sort -u
}

logged_in_uids() {
    { ls -ln /dev/console | awk '{ print $3 }'; who | while read -r name _; do id -u "$name"; done; } 2>/dev/null |
        sort -un | awk '$1 > 0'
}

domains() {
    echo system
    for uid in $(logged_in_uids); do echo "gui/$uid"; done
}

kind_of() {  # kind_of DOMAIN
    case $1 in system) echo LaunchDaemons ;; *) echo LaunchAgents ;; esac
}

loaded() {  # loaded DOMAIN/LABEL
    if modern_launchd; then launchctl print "$1" >/dev/null 2>&1; else launchctl list "${1##*/}" >/dev/null 2>&1; fi
}

disabled() {  # disabled DOMAIN/LABEL
    launchctl print-disabled "${1%/*}" 2>/dev/null | grep -Eq "\"${1##*/}\" => (true|disabled)"
}

# Waits up to 20 seconds for launchd to let go of a job it was told to stop.
gone() {  # gone DOMAIN/LABEL
    waited=0
    while loaded "$1"; do
        [ "$waited" -lt 20 ] || return 1
        sleep 1
        waited=$((waited + 1))
    done
}

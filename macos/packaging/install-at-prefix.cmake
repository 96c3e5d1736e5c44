# Runs inside cmake --install, where CMAKE_INSTALL_PREFIX is the prefix of this
# install, whether given at configure time or to cmake --install. Writes
# nothing into the build tree.
function(voskeld_absolute result dir)
    if(IS_ABSOLUTE "${dir}")
        set(${result} "${dir}" PARENT_SCOPE)
    else()
        set(${result} "${CMAKE_INSTALL_PREFIX}/${dir}" PARENT_SCOPE)
    endif()
endfunction()

voskeld_absolute(SBINDIR "${VOSKELD_SBINDIR}")
voskeld_absolute(mandir "${VOSKELD_MANDIR}")
voskeld_absolute(DATADIR "${VOSKELD_DATADIR}")
set(destdir "$ENV{DESTDIR}")

# voskeld_configure SOURCE DESTINATION: SOURCE with its @NAMES@ filled in,
# installed as DESTINATION and listed in the manifest.
macro(voskeld_configure source destination)
    message(STATUS "Installing: ${destdir}${destination}")
    configure_file("${VOSKELD_MACOS_SOURCE}/${source}" "${destdir}${destination}" @ONLY)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${destdir}${destination}")
endmacro()

# One agent and one daemon per edition, each naming the installed program;
# beside each, the fire drill's template of the same job, which differs only
# in the %NAMES% the drill fills in: no KeepAlive, and a program that ends
# itself after %BOUND% seconds (an alarm timer outlives exec), so that no
# drill, even one killed outright, leaves an alarm sounding.
set(drill_timer "alarm shift; exec @ARGV or die")
set(drill_path "
	<key>EnvironmentVariables</key>
	<dict>
		<key>PATH</key>
		<string>%PATH%</string>
	</dict>")
foreach(EDITION voskeld voskeld-continuous)
    foreach(kind LaunchAgents LaunchDaemons)
        set(LABEL com.voskel.${EDITION})
        set(PROGRAM "${SBINDIR}/${EDITION}")
        set(BOUND "")
        set(KEEPALIVE true)
        set(ENVIRONMENT "")
        set(ARGUMENTS "")
        set(LOG "/var/log/${EDITION}.log")
        if(kind STREQUAL LaunchAgents)
            set(PROGRAM "'${PROGRAM}'")
            set(LOG "\"$HOME/Library/Logs/${EDITION}.log\"")
        endif()
        voskeld_configure(${kind}.plist.in "${DATADIR}/voskeld/${kind}/${LABEL}.plist")
        set(LABEL %LABEL%)
        set(PROGRAM %PROGRAM%)
        set(KEEPALIVE false)
        set(ENVIRONMENT "${drill_path}")
        if(kind STREQUAL LaunchAgents)
            # The shell line takes its program and log as arguments, so that no
            # path needs quoting for the shell.
            set(BOUND "/usr/bin/perl -e '${drill_timer}' %BOUND% ")
            set(PROGRAM "\"$0\"")
            set(LOG "\"$1\"")
            set(ARGUMENTS "
		<string>%PROGRAM%</string>
		<string>%LOG%</string>")
        else()
            set(BOUND "")
            foreach(argument /usr/bin/perl -e "${drill_timer}" %BOUND%)
                string(APPEND BOUND "\n\t\t<string>${argument}</string>")
            endforeach()
            set(LOG %LOG%)
        endif()
        voskeld_configure(${kind}.plist.in "${DATADIR}/voskeld/${kind}/com.voskel.${EDITION}.firedrill.template")
    endforeach()
endforeach()

# The drill finds its preflight and templates from wherever the install put them.
file(RELATIVE_PATH SHARE "${SBINDIR}" "${DATADIR}/voskeld")
voskeld_configure(voskeld-firedrill.in "${SBINDIR}/voskeld-firedrill")
file(CHMOD "${destdir}${SBINDIR}/voskeld-firedrill" PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# One page covers both editions, the drill and the log rotation.
voskeld_configure(voskeld.8.in "${mandir}/man8/voskeld.8")
foreach(link voskeld-continuous.8 voskeld-firedrill.8 voskeld-rotate-log.8)
    message(STATUS "Installing: ${destdir}${mandir}/man8/${link}")
    file(CREATE_LINK voskeld.8 "${destdir}${mandir}/man8/${link}" SYMBOLIC)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${destdir}${mandir}/man8/${link}")
endforeach()

# The daemons read /etc/voskeld.conf whatever the prefix. Without it they
# would check without pause, so put the sample there, but never over a file
# someone has already written, and without failing an install by someone who
# cannot write /etc.
set(conf "${destdir}/etc/voskeld.conf")
if(NOT VOSKELD_INSTALL_CONF)
    message(STATUS "Skipping: ${conf} (VOSKELD_INSTALL_CONF is off)")
elseif(EXISTS "${conf}")
    message(STATUS "Keeping: ${conf}")
else()
    execute_process(COMMAND "${CMAKE_COMMAND}" -E make_directory "${destdir}/etc"
        RESULT_VARIABLE failed OUTPUT_QUIET ERROR_QUIET)
    if(NOT failed)
        execute_process(COMMAND "${CMAKE_COMMAND}" -E copy "${VOSKELD_MACOS_SOURCE}/voskeld.conf" "${conf}"
            RESULT_VARIABLE failed OUTPUT_QUIET ERROR_QUIET)
    endif()
    if(failed)
        message(STATUS "Skipping: ${conf} cannot be written; put delayseconds=60 there as root, or the checks follow one another without pause")
    else()
        message(STATUS "Installing: ${conf}")
        list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${conf}")
    endif()
endif()

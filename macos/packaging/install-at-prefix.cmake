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
voskeld_absolute(LIBEXECDIR "${VOSKELD_LIBEXECDIR}")
voskeld_absolute(SYSCONFDIR "${VOSKELD_SYSCONFDIR}")
set(destdir "$ENV{DESTDIR}")

# voskeld_configure SOURCE DESTINATION: SOURCE with its @NAMES@ filled in,
# installed as DESTINATION and listed in the manifest.
macro(voskeld_configure source destination)
    message(STATUS "Installing: ${destdir}${destination}")
    configure_file("${VOSKELD_MACOS_SOURCE}/${source}" "${destdir}${destination}" @ONLY)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${destdir}${destination}")
endmacro()

macro(voskeld_executable path)
    file(CHMOD "${destdir}${path}" PERMISSIONS
        OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endmacro()

# The alarm's sound and mail where /usr/bin cannot hold them: an afplay and a
# python of ours, first on every job's PATH, and the admin's own pieces in
# the site folder, which no install writes.
set(LIBEXEC "${LIBEXECDIR}/voskeld")
set(SITEDIR "${SYSCONFDIR}/voskeld")
voskeld_configure(libexec/adapt.sh.in "${LIBEXEC}/adapt.sh")
foreach(adapter afplay python)
    voskeld_configure(libexec/${adapter} "${LIBEXEC}/${adapter}")
    voskeld_executable("${LIBEXEC}/${adapter}")
endforeach()

# One agent and one daemon per edition, each naming the installed program.
# The fire drill makes its own job from the installed one at drill time.
set(JOB_PATH "${LIBEXEC}:/usr/bin:/bin:/usr/sbin:/sbin")
foreach(EDITION voskeld voskeld-continuous)
    set(PROGRAM "${SBINDIR}/${EDITION}")
    voskeld_configure(LaunchAgents.plist.in "${DATADIR}/voskeld/LaunchAgents/com.voskel.${EDITION}.plist")
    voskeld_configure(LaunchDaemons.plist.in "${DATADIR}/voskeld/LaunchDaemons/com.voskel.${EDITION}.plist")
endforeach()

# The drill finds its preflight and the jobs from wherever the install put them.
file(RELATIVE_PATH SHARE "${SBINDIR}" "${DATADIR}/voskeld")
voskeld_configure(voskeld-firedrill.in "${SBINDIR}/voskeld-firedrill")
voskeld_executable("${SBINDIR}/voskeld-firedrill")

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

# Runs inside cmake --install, where CMAKE_INSTALL_PREFIX is the prefix of this
# install, whether given at configure time or to cmake --install.
function(voskeld_absolute result dir)
    if(IS_ABSOLUTE "${dir}")
        set(${result} "${dir}" PARENT_SCOPE)
    else()
        set(${result} "${CMAKE_INSTALL_PREFIX}/${dir}" PARENT_SCOPE)
    endif()
endfunction()

voskeld_absolute(SBINDIR "${VOSKELD_SBINDIR}")
voskeld_absolute(mandir "${VOSKELD_MANDIR}")
voskeld_absolute(datadir "${VOSKELD_DATADIR}")

# One agent and one daemon per edition, each naming the installed program.
foreach(EDITION voskeld voskeld-continuous)
    foreach(kind LaunchAgents LaunchDaemons)
        set(plist "${VOSKELD_MACOS_BINARY}/${kind}/com.voskel.${EDITION}.plist")
        configure_file("${VOSKELD_MACOS_SOURCE}/${kind}.plist.in" "${plist}" @ONLY)
        file(INSTALL "${plist}" DESTINATION "${datadir}/voskeld/${kind}")
    endforeach()
endforeach()

# One page covers both editions.
file(MAKE_DIRECTORY "$ENV{DESTDIR}${mandir}/man8")
file(CREATE_LINK voskeld.8 "$ENV{DESTDIR}${mandir}/man8/voskeld-continuous.8" SYMBOLIC)
message(STATUS "Installing: $ENV{DESTDIR}${mandir}/man8/voskeld-continuous.8")

# The daemons read /etc/voskeld.conf whatever the prefix. Without it they
# would check without pause, so put the sample there, but never over a file
# someone has already written.
set(conf "$ENV{DESTDIR}/etc/voskeld.conf")
if(EXISTS "${conf}")
    message(STATUS "Keeping: ${conf}")
else()
    file(INSTALL "${VOSKELD_MACOS_SOURCE}/voskeld.conf" DESTINATION /etc)
endif()

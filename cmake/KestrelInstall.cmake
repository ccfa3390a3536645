# What `cmake --install` puts on a line PC, and the Debian package made of it (cpack -G DEB).
#
#   bin/                          kestrel-cli, kestrel (when the window is built)
#   lib/kestrel-station/          the project's shared libraries (private to the station)
#   include/kestrel-station/      the headers of the libraries' exports, by folder
#   lib/udev/rules.d/             the device access rule
#   share/kestrel-station/udev/   the optional rule that lets the desktop mount the devices
#   share/applications, icons     the window's desktop entry and icon
#   share/doc/kestrel-station/    README and docs/
#   share/man/man1/               kestrel-cli.1, made from its --help
#
# Installed programs and libraries find the project's libraries through a RUNPATH relative to
# themselves ($ORIGIN/../lib/kestrel-station for programs, $ORIGIN for the libraries), so an
# installed tree can be moved or copied to another PC.

include(GNUInstallDirs)
set(KESTREL_INSTALL_LIBDIR ${CMAKE_INSTALL_LIBDIR}/kestrel-station)
set(KESTREL_INSTALL_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/kestrel-station)

# Every shared library of ours that a program of the project needs at run time. A target that
# is not a shared library in this build (or not built at all) is skipped.
set(KESTREL_INSTALLED_LIBRARIES
    Kestrellib Segwrap VantorDll kzip Scrivet KestrelCopyLib KestrelPlatform KestrelSim)
set(KESTREL_INSTALLED_PROGRAMS kestrel-cli kestrel)

foreach(target IN LISTS KESTREL_INSTALLED_LIBRARIES)
    if(TARGET ${target})
        get_target_property(type ${target} TYPE)
        if(type STREQUAL "SHARED_LIBRARY")
            set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN")
            install(TARGETS ${target}
                    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT station
                    LIBRARY DESTINATION ${KESTREL_INSTALL_LIBDIR} COMPONENT station
                    NAMELINK_SKIP)
        endif()
    endif()
endforeach()

foreach(target IN LISTS KESTREL_INSTALLED_PROGRAMS)
    if(TARGET ${target})
        file(RELATIVE_PATH libdir ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}
             ${CMAKE_INSTALL_PREFIX}/${KESTREL_INSTALL_LIBDIR})
        set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN/${libdir}")
        install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT station)
    endif()
endforeach()

# The exports' headers and the project headers they include, kept in their folders so that
# their own #include lines resolve with -I<prefix>/include/kestrel-station.
set(KESTREL_PUBLIC_HEADERS
    include/kestrel/isp_job.h
    kestrellib/device/device_exports.h
    kestrellib/device/nand_info.h
    kestrellib/device/nand_layout.h
    kestrellib/program/boot_exports.h
    kestrellib/program/config_exports.h
    kestrellib/program/shared_counters.h
    kestrellib/program/stop_request.h
    kestrellib/program/write_romfs.h
    kestrellib/romfs/romfs_exports.h
    outside/kestrel_copy/kestrel_copy.h
    outside/kzip/kzip.h
    outside/scrivet/scrivet.h
    platform/export.h
    platform/registry/os_version.h
    platform/registry/registry.h
    segwrap/download_blocks.h
    segwrap/elf_dump.h
    segwrap/vmx_image.h
    vantordll/k_string_list.h
    vantordll/os_version.h
    vantordll/registry_helpers.h
    vantordll/vantordll_api.h)
foreach(header IN LISTS KESTREL_PUBLIC_HEADERS)
    get_filename_component(folder ${header} DIRECTORY)
    string(REGEX REPLACE "^include/?" "" folder "${folder}")
    install(FILES ${PROJECT_SOURCE_DIR}/${header}
            DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kestrel-station/${folder}
            COMPONENT station)
endforeach()

if(UNIX AND NOT APPLE)
    # The rule lives with the system's own rules (lib/udev/rules.d below the prefix); rules in
    # /etc/udev/rules.d of the same name override it.
    install(FILES ${PROJECT_SOURCE_DIR}/platform/devices/70-kestrel-station.rules
            DESTINATION lib/udev/rules.d COMPONENT station)
    # Not active until the administrator copies it to /etc/udev/rules.d (docs/demo-copy.md).
    install(FILES ${PROJECT_SOURCE_DIR}/platform/drives/71-kestrel-station-demo-copy.rules
            DESTINATION ${CMAKE_INSTALL_DATADIR}/kestrel-station/udev COMPONENT station)
endif()

if(TARGET kestrel)
    install(FILES ${PROJECT_SOURCE_DIR}/app/desktop/kestrel.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT station)
    install(FILES ${PROJECT_SOURCE_DIR}/app/desktop/kestrel.svg
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT station)
endif()

install(FILES ${PROJECT_SOURCE_DIR}/README.md
        DESTINATION ${KESTREL_INSTALL_DOCDIR} COMPONENT station)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/
        DESTINATION ${KESTREL_INSTALL_DOCDIR}/docs COMPONENT station)

# kestrel-cli(1) from its own --help, when help2man is there and the program runs on this host.
find_program(KESTREL_HELP2MAN help2man)
if(KESTREL_HELP2MAN AND TARGET kestrel-cli AND NOT CMAKE_CROSSCOMPILING)
    set(man ${PROJECT_BINARY_DIR}/kestrel-cli.1)
    add_custom_command(
        OUTPUT ${man}
        COMMAND ${KESTREL_HELP2MAN} --no-info --no-discard-stderr
                --name "the Kestrel programming station on the command line"
                --version-string "${PROJECT_VERSION}"
                --include ${PROJECT_SOURCE_DIR}/cli/kestrel-cli.h2m
                --output ${man} $<TARGET_FILE:kestrel-cli>
        DEPENDS kestrel-cli ${PROJECT_SOURCE_DIR}/cli/kestrel-cli.h2m
        COMMENT "Writing the manual page kestrel-cli.1"
        VERBATIM)
    add_custom_target(kestrel_cli_man ALL DEPENDS ${man})
    install(FILES ${man} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT station)
endif()

# The Debian package: one kestrel-station .deb of the whole installed tree.
set(CPACK_PACKAGE_NAME kestrel-station)
set(CPACK_PACKAGE_VENDOR "Kestrel")
set(CPACK_PACKAGE_CONTACT "Kestrel station maintainers <station@kestrel.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Production programming station for NAND devices over USB")
set(CPACK_PACKAGE_DESCRIPTION
    "Programs up to eight devices of one model at once through their SCSI generic nodes, with\n\
the window (kestrel) and the command line (kestrel-cli), and builds the images production\n\
writes. Installs a udev rule that grants the seat's user the devices' nodes.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Run-time dependencies from the programs' and libraries' own needs (dpkg-shlibdeps), plus udev
# for the rule's activation.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "udev")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/cmake/debian/postinst ${PROJECT_SOURCE_DIR}/cmake/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)

# Installation and the Debian package: the three programs with their manual pages, the desktop
# entry and the icon, the copyright and the changelog. `cmake --install build/default` installs
# (after `cmake --build build/default --target vornic_package_files`); `cpack` in the build folder
# makes vornic_*.deb, whose library dependencies dpkg-shlibdeps works out from the programs.
include(GNUInstallDirs)

set(VORNIC_MAN_SUMMARY_vornic "configure and hand-control a KZ2 telescope mount controller")
set(VORNIC_MAN_SUMMARY_vornic-cli "the KZ2 telescope mount controller from the command line")
set(VORNIC_MAN_SUMMARY_kz2-sim "a simulated KZ2 telescope mount controller on a pseudo-terminal")
set(VORNIC_MAN_HELP_vornic-cli --help-all)
set(VORNIC_PACKAGE_FILES)
foreach(program vornic vornic-cli kz2-sim)
    if(TARGET ${program})
        install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
        # The manual page is the program's own help, taken from the program as built.
        set(page ${CMAKE_BINARY_DIR}/man/${program}.1.gz)
        add_custom_command(
            OUTPUT ${page}
            COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${program}> -DNAME=${program}
                    "-DSUMMARY=${VORNIC_MAN_SUMMARY_${program}}" -DVERSION=${PROJECT_VERSION}
                    -DHELP=${VORNIC_MAN_HELP_${program}} -DOUTPUT=${page}
                    -P ${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake
            DEPENDS ${program} ${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake
            COMMENT "Manual page of ${program}")
        install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
        list(APPEND VORNIC_PACKAGE_FILES ${page})
    endif()
endforeach()

set(VORNIC_CHANGELOG ${CMAKE_BINARY_DIR}/changelog.Debian.gz)
add_custom_command(
    OUTPUT ${VORNIC_CHANGELOG}
    COMMAND gzip -9nc ${CMAKE_CURRENT_LIST_DIR}/changelog > ${VORNIC_CHANGELOG}
    DEPENDS ${CMAKE_CURRENT_LIST_DIR}/changelog
    COMMENT "Debian changelog")
list(APPEND VORNIC_PACKAGE_FILES ${VORNIC_CHANGELOG})
# Not part of every build: the quick start builds the programs only.
add_custom_target(vornic_package_files DEPENDS ${VORNIC_PACKAGE_FILES})
install(FILES ${VORNIC_CHANGELOG} ${CMAKE_CURRENT_LIST_DIR}/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
if(TARGET vornic)
    install(FILES ${CMAKE_CURRENT_LIST_DIR}/vornic.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES ${CMAKE_CURRENT_LIST_DIR}/vornic.svg
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vornic)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Vornic developers")
set(CPACK_PACKAGE_CONTACT "Vornic developers <vornic@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Configure and hand-control KZ2 telescope mount controllers")
# One string with its own line breaks: a CMake list would be joined with ";" into the text.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "Vornic talks to a KZ2 two-axis stepper controller over a serial port: it shows\n"
       "and changes every stored setting, moves the mount by hand, tracks, syncs and\n"
       "parks. Includes the command-line tool vornic-cli and the controller simulator\n"
       "kz2-sim.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt loads its platform plugins at run time, so no library dependency names them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# The SVG icon engine draws the window icon from the installed scalable icon.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-core, libqt6svg6")
include(CPack)

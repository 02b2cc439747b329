# Installation and the Debian package: the three programs, the desktop entry and the icon.
# `cmake --install build/default` installs; `cpack` in the build folder makes vornic_*.deb, whose
# library dependencies dpkg-shlibdeps works out from the installed programs.
include(GNUInstallDirs)

foreach(program vornic vornic-cli kz2-sim)
    if(TARGET ${program})
        install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    endif()
endforeach()
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
set(CPACK_PACKAGE_DESCRIPTION
    "Vornic talks to a KZ2 two-axis stepper controller over a serial port: it shows and changes "
    "every stored setting, moves the mount by hand, tracks, syncs and parks. Includes the "
    "command-line tool vornic-cli and the controller simulator kz2-sim.")
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

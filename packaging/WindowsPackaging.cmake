# The Windows programs' version information and the zip for Windows users. Each program carries a
# VERSIONINFO resource made from the project's version; vornic-cli.exe also its manifest and the
# icon. `cpack -G ZIP` in the Windows build folder makes vornic-<version>-win64.zip: both
# programs, a README for Windows users and the copyright, in one folder that needs no installing.
set(VORNIC_WINDOWS_DIR ${CMAKE_CURRENT_LIST_DIR}/windows)

function(vornic_version_resource target description extra)
    set(VORNIC_RC_NAME ${target})
    set(VORNIC_RC_DESCRIPTION "${description}")
    set(VORNIC_RC_EXTRA "${extra}")
    configure_file(${VORNIC_WINDOWS_DIR}/version.rc.in ${CMAKE_BINARY_DIR}/resources/${target}.rc
                   @ONLY)
    target_sources(${target} PRIVATE ${CMAKE_BINARY_DIR}/resources/${target}.rc)
endfunction()

configure_file(${VORNIC_WINDOWS_DIR}/vornic-cli.exe.manifest.in
               ${CMAKE_BINARY_DIR}/resources/vornic-cli.exe.manifest @ONLY)
vornic_version_resource(vornic "Vornic: KZ2 telescope mount controller configuration" "")
string(CONCAT VORNIC_CLI_RESOURCES
       "#include <winuser.h>\n"
       "1 ICON \"${PROJECT_SOURCE_DIR}/desktop/win32/vornic.ico\"\n"
       "CREATEPROCESS_MANIFEST_RESOURCE_ID RT_MANIFEST "
       "\"${CMAKE_BINARY_DIR}/resources/vornic-cli.exe.manifest\"\n")
vornic_version_resource(vornic-cli "Vornic: the KZ2 telescope mount controller from the command line"
                        "${VORNIC_CLI_RESOURCES}")

# Text files with Windows line ends, for Notepad of any age; the README's title underlined to its
# length.
string(LENGTH "Vornic ${PROJECT_VERSION} for Windows" VORNIC_README_TITLE_LENGTH)
string(REPEAT "=" ${VORNIC_README_TITLE_LENGTH} VORNIC_README_RULE)
foreach(text README.txt COPYRIGHT.txt)
    if(text STREQUAL README.txt)
        configure_file(${VORNIC_WINDOWS_DIR}/README.txt ${CMAKE_BINARY_DIR}/zip/${text}.lf @ONLY)
    else()
        configure_file(${PROJECT_SOURCE_DIR}/packaging/copyright ${CMAKE_BINARY_DIR}/zip/${text}.lf
                       COPYONLY)
    endif()
    file(READ ${CMAKE_BINARY_DIR}/zip/${text}.lf content)
    string(REPLACE "\n" "\r\n" content "${content}")
    file(WRITE ${CMAKE_BINARY_DIR}/zip/${text} "${content}")
endforeach()

install(TARGETS vornic vornic-cli RUNTIME DESTINATION .)
install(FILES ${CMAKE_BINARY_DIR}/zip/README.txt ${CMAKE_BINARY_DIR}/zip/COPYRIGHT.txt DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME vornic)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Vornic developers")
set(CPACK_PACKAGE_FILE_NAME vornic-${PROJECT_VERSION}-win64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
# The programs are linked stripped already.
set(CPACK_STRIP_FILES OFF)
include(CPack)

# The Windows build is cross-compiled, so the host's CMake packages cannot be used. CLI11 and
# nlohmann-json are header-only: their folders are linked into one include folder of our own, so
# that the cross compiler sees them and nothing else of the host's /usr/include.
set(VORNIC_HOST_HEADERS ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${VORNIC_HOST_HEADERS})
foreach(folder CLI nlohmann)
    if(NOT EXISTS /usr/include/${folder})
        message(FATAL_ERROR "/usr/include/${folder} is missing: run scripts/install-deps.sh")
    endif()
    file(CREATE_LINK /usr/include/${folder} ${VORNIC_HOST_HEADERS}/${folder} SYMBOLIC)
endforeach()
if(NOT TARGET CLI11::CLI11)
    add_library(CLI11::CLI11 INTERFACE IMPORTED)
    target_include_directories(CLI11::CLI11 SYSTEM INTERFACE ${VORNIC_HOST_HEADERS})
endif()
if(NOT TARGET nlohmann_json::nlohmann_json)
    add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
    target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE
                               ${VORNIC_HOST_HEADERS})
endif()

# GoogleTest comes as source with Debian's googletest package; it is built with the cross compiler.
if(VORNIC_BUILD_TESTS AND NOT TARGET GTest::gtest)
    set(VORNIC_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest's source folder")
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
    add_subdirectory(${VORNIC_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    foreach(library gtest gtest_main gmock gmock_main)
        if(NOT TARGET GTest::${library})
            add_library(GTest::${library} ALIAS ${library})
        endif()
    endforeach()
    # Tells the tests' find_package that GoogleTest is already here.
    set(GTest_FOUND TRUE)
endif()


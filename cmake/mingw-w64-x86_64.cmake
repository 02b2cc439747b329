# Cross-builds the Windows programs with mingw-w64 (the posix-threads variant, which std::thread
# needs). The programs are linked statically, so they need no DLL beyond the system's.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VORNIC_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VORNIC_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VORNIC_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VORNIC_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VORNIC_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Stripped: no debug information would reach the programs, so the windows preset compiles none.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -s")
# Vista's API at least: CancelIoEx, FILE_FLAG_FIRST_PIPE_INSTANCE.
set(CMAKE_CXX_FLAGS_INIT "-D_WIN32_WINNT=0x0601 -DWIN32_LEAN_AND_MEAN -DNOMINMAX")

# CTest runs the cross-built tests through Wine.
find_program(VORNIC_WINE NAMES wine wine64)
if(VORNIC_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${VORNIC_WINE})
endif()


# Cross-build for 64-bit Windows with Debian's mingw-w64 (package g++-mingw-w64-x86-64).
# The -posix variant of the compiler: only its thread model gives std::thread and
# std::mutex; the -win32 one lacks them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PELKORA_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_CXX_COMPILER ${PELKORA_MINGW_PREFIX}-g++-posix)
set(CMAKE_C_COMPILER ${PELKORA_MINGW_PREFIX}-gcc-posix)
set(CMAKE_RC_COMPILER ${PELKORA_MINGW_PREFIX}-windres)

# Libraries and headers of the target only, programs of the build machine only.
set(CMAKE_FIND_ROOT_PATH /usr/${PELKORA_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained .exe: no libstdc++/libgcc/winpthread DLLs to ship along, so it
# runs on a bare Windows.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Wine runs the test programs (ctest, gtest_discover_tests).
find_program(PELKORA_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(PELKORA_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${PELKORA_WINE})
endif()

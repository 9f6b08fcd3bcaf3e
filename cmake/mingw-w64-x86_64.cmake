# Cross-builds static 64-bit Windows executables with Debian's mingw-w64.
#
# The -posix compiler variant is required: the default -win32 one has no std::thread or
# std::mutex.  Executables run here under Wine, which CMake uses to run the tests and
# GoogleTest's test discovery; scripts/windows.sh prepares its prefix.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TARVEX_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TARVEX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TARVEX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TARVEX_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TARVEX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One file per program: no compiler run-time DLLs to ship beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Wine in the build's own prefix (see the script).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/win/wine-run.sh)

# Cross build for 64-bit Windows with Debian's mingw-w64 tool chain. The posix thread model
# is the one whose runtime has std::thread and std::mutex.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(FTPC_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${FTPC_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${FTPC_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${FTPC_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${FTPC_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every executable carries its runtime (libgcc, libstdc++, winpthread): no DLL beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test executables run under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)

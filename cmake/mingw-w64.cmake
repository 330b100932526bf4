# Cross-compiles the Windows program with Debian's mingw-w64 compilers of the
# posix thread model (std::thread and std::mutex come from winpthreads), for
# the processor that the including toolchain file names in
# LUMBRA_MINGW_PROCESSOR (x86_64 or i686).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${LUMBRA_MINGW_PROCESSOR})
set(triple ${LUMBRA_MINGW_PROCESSOR}-w64-mingw32)
set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Every library linked in, the C++ runtime and winpthreads included, so the
# program imports only DLLs that come with Windows.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# Line tables only: enough for the backtraces Wine prints of a crashed test,
# and far quicker to build and link than full debug information.
set(CMAKE_CXX_FLAGS_RELWITHDEBINFO_INIT "-O2 -g1 -DNDEBUG")

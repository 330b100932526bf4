# The 32-bit Windows program (build-win32), for the drivers and COM servers
# that exist only in 32 bits.
set(LUMBRA_MINGW_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)

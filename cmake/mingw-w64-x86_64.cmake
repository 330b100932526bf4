# The 64-bit Windows program (build-win64).
set(LUMBRA_MINGW_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)

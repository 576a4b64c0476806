# The test twin: the same sources for 64-bit Windows, which 64-bit Wine runs anywhere.
set(TESSALY_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)

# The shipped build: 32-bit Windows.
set(TESSALY_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)

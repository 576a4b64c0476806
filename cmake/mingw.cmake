# Shared part of the two cross toolchains; TESSALY_ARCH (i686 or x86_64) is set by the
# file that includes this one. The posix-thread flavour of MinGW-w64 throughout: the win32
# flavour has no std::mutex, which the test framework needs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${TESSALY_ARCH})
set(TESSALY_TRIPLET ${TESSALY_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER ${TESSALY_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TESSALY_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TESSALY_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TESSALY_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Every test executable runs under Wine through the project's wrapper: the loader and the
# private prefix of this architecture.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-exec ${TESSALY_ARCH})

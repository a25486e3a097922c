# Cross build of pickcopy.exe with Debian's MinGW-w64 compilers for the
# architecture in PICKCOPY_MINGW_ARCH; tests run under Wine. The posix thread
# model: GoogleTest needs std::mutex, which the win32 model of these compilers
# lacks; -static links its runtime in.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${PICKCOPY_MINGW_ARCH})
set(CMAKE_C_COMPILER ${PICKCOPY_MINGW_ARCH}-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER ${PICKCOPY_MINGW_ARCH}-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER ${PICKCOPY_MINGW_ARCH}-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${PICKCOPY_MINGW_ARCH}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Debian's wine starts the 32-bit loader whenever wine32 is installed, and
# that cannot start where the host runs no 32-bit program; there the 64-bit
# build runs through the 64-bit loader itself (PICKCOPY_WINE).
set(PICKCOPY_WINE wine CACHE STRING "The Wine loader that runs the tests")
set(CMAKE_CROSSCOMPILING_EMULATOR ${PICKCOPY_WINE})

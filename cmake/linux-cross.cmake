# Cross build for Linux on the CPU in PICKCOPY_CROSS_ARCH with Debian's
# cross compilers (g++-<arch>-linux-gnu); the tests run the binaries
# through qemu-user with the architecture's libraries.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${PICKCOPY_CROSS_ARCH})
set(CMAKE_C_COMPILER ${PICKCOPY_CROSS_ARCH}-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER ${PICKCOPY_CROSS_ARCH}-linux-gnu-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${PICKCOPY_CROSS_ARCH}-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${PICKCOPY_CROSS_ARCH} -L /usr/${PICKCOPY_CROSS_ARCH}-linux-gnu)

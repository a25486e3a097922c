# 32-bit x86 Linux, with Debian's i686 cross compiler (g++-i686-linux-gnu,
# which unlike g++-multilib can be installed beside the other cross
# compilers). The binaries run natively on an x86-64 kernel that runs 32-bit
# programs, with the i386 C library (libc6:i386); on a host whose kernel
# runs none, PICKCOPY_QEMU_I386=ON runs them through qemu-i386 with the
# cross compiler's libraries instead, the whole suite included.
set(PICKCOPY_CROSS_ARCH i686)
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER i686-linux-gnu-g++)
set(CMAKE_FIND_ROOT_PATH /usr/i686-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
if(PICKCOPY_QEMU_I386)
  set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386 -L /usr/i686-linux-gnu)
endif()

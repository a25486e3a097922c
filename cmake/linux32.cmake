# 32-bit x86 Linux on a 64-bit one, with Debian's g++-multilib; the
# binaries run natively. GoogleTest is built from source for it.
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -m32)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -m32)
set(PICKCOPY_GTEST_FROM_SOURCE ON CACHE BOOL "")

# Cross build for FreeBSD 13.5 on x86-64 with Debian's clang, lld and
# llvm-ar, against the FreeBSD sysroot (headers, crt files and the shared
# libraries a link needs). The binaries are linked, not run: nothing here
# executes FreeBSD programs.
include(${CMAKE_CURRENT_LIST_DIR}/sysroots.cmake)
set(CMAKE_SYSTEM_NAME FreeBSD)
set(CMAKE_SYSTEM_VERSION 13.5)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
# sys/ucred.h includes bsm/audit.h, which the sysroot lacks, for the
# kernel's struct ucred only; GoogleTest's port layer includes sys/ucred.h.
pickcopy_sysroot(freebsd-13.5-amd64 CMAKE_SYSROOT EMPTY_HEADERS bsm/audit.h)
set(PICKCOPY_TARGET x86_64-unknown-freebsd13.5)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${PICKCOPY_TARGET})
set(CMAKE_CXX_COMPILER_TARGET ${PICKCOPY_TARGET})
set(CMAKE_AR llvm-ar)
set(CMAKE_RANLIB llvm-ranlib)
set(CMAKE_CXX_FLAGS_INIT "-stdlib=libc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld -stdlib=libc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-fuse-ld=lld -stdlib=libc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-fuse-ld=lld -stdlib=libc++")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

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
pickcopy_clang_for(x86_64-unknown-freebsd13.5 "-fuse-ld=lld")

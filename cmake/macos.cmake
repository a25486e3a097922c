# Cross build for macOS 12 on the CPU in PICKCOPY_MACOS_ARCH (arm64 or
# x86_64) with Debian's clang and ld64.lld, against the macOS 12.0 SDK
# (headers and the .tbd stubs of libSystem and libc++). The binaries are
# linked, not run: nothing here executes macOS programs.
include(${CMAKE_CURRENT_LIST_DIR}/sysroots.cmake)
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_VERSION 21.0)  # Darwin 21 is macOS 12
set(CMAKE_SYSTEM_PROCESSOR ${PICKCOPY_MACOS_ARCH})
pickcopy_sysroot(macos-12.0 CMAKE_OSX_SYSROOT)
set(CMAKE_OSX_ARCHITECTURES ${PICKCOPY_MACOS_ARCH})
set(CMAKE_OSX_DEPLOYMENT_TARGET 12.0)
# -mlinker-version makes Debian's clang pass -platform_version to ld64.lld.
pickcopy_clang_for(${PICKCOPY_MACOS_ARCH}-apple-macos12.0
                   "-fuse-ld=/usr/lib/llvm-14/bin/ld64.lld -mlinker-version=609")
set(CMAKE_INSTALL_NAME_TOOL llvm-install-name-tool)
set(CMAKE_FIND_ROOT_PATH ${CMAKE_OSX_SYSROOT})

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
set(PICKCOPY_TARGET ${PICKCOPY_MACOS_ARCH}-apple-macos12.0)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${PICKCOPY_TARGET})
set(CMAKE_CXX_COMPILER_TARGET ${PICKCOPY_TARGET})
set(CMAKE_AR llvm-ar)
set(CMAKE_RANLIB llvm-ranlib)
set(CMAKE_INSTALL_NAME_TOOL llvm-install-name-tool)
# Debian's clang picks neither libc++ nor the linker's version for these
# targets by itself; -mlinker-version makes it pass -platform_version.
set(CMAKE_CXX_FLAGS_INIT "-stdlib=libc++")
set(PICKCOPY_MACOS_LINK "-fuse-ld=/usr/lib/llvm-14/bin/ld64.lld -mlinker-version=609 -stdlib=libc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT ${PICKCOPY_MACOS_LINK})
set(CMAKE_SHARED_LINKER_FLAGS_INIT ${PICKCOPY_MACOS_LINK})
set(CMAKE_MODULE_LINKER_FLAGS_INIT ${PICKCOPY_MACOS_LINK})
set(CMAKE_FIND_ROOT_PATH ${CMAKE_OSX_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

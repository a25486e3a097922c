# Toolchain for macOS on Intel.
set(PICKCOPY_MACOS_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/macos.cmake)

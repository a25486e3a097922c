# Toolchain for macOS on Apple silicon.
set(PICKCOPY_MACOS_ARCH arm64)
include(${CMAKE_CURRENT_LIST_DIR}/macos.cmake)

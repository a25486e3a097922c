# Toolchain for 64-bit ARM Linux.
set(PICKCOPY_CROSS_ARCH aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)

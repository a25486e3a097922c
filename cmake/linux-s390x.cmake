# Toolchain for IBM Z Linux: a big-endian CPU.
set(PICKCOPY_CROSS_ARCH s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)

// Hole punching with Linux's fallocate(2).
#include <fcntl.h>

#include <cerrno>

#include "copy/file_posix.h"

int punch_hole(int fd, off_t offset, off_t length) {
  return fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, offset, length) == 0
             ? 0
             : errno;
}

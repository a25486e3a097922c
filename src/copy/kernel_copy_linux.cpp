// Linux's own ways to copy without passing the data through the program:
// FICLONE, copy_file_range(2) and hole punching.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "copy/file_posix.h"

int clone_file(int in, int out) {
  return ioctl(out, FICLONE, in) == 0 ? 0 : errno;
}

ssize_t copy_in_kernel(int in, off_t* in_offset, int out, off_t* out_offset, size_t length) {
  return copy_file_range(in, in_offset, out, out_offset, length, 0);
}

int punch_hole(int fd, off_t offset, off_t length) {
  return fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, offset, length) == 0
             ? 0
             : errno;
}

// A reflink clone with Linux's FICLONE: the new file shares the source's
// blocks until either is written.
#include <linux/fs.h>
#include <sys/ioctl.h>

#include <cerrno>

#include "copy/file_posix.h"

int copy_whole_file(int in, int out) {
  return ioctl(out, FICLONE, in) == 0 ? 0 : errno;
}

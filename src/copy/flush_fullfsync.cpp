// macOS: fsync(2) hands the data to the drive, which may keep them in its
// cache; F_FULLFSYNC asks the drive to write them out. Some file systems
// refuse it, and then fsync is the best there is. Written from the
// manual; not run on this project's machines.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "copy/file_posix.h"

int flush_to_disk(int fd) {
  if (fcntl(fd, F_FULLFSYNC) == 0)
    return 0;
  return fsync(fd) == 0 ? 0 : errno;
}

// Flushing to the disk with fsync(2).
#include <unistd.h>

#include <cerrno>

#include "copy/file_posix.h"

int flush_to_disk(int fd) { return fsync(fd) == 0 ? 0 : errno; }

// copy_file_range(2), which Linux and FreeBSD have with the same signature:
// the kernel copies the bytes, or has the file system share or copy them
// on its side (NFS and SMB servers included).
#include <unistd.h>

#include "copy/file_posix.h"

ssize_t copy_in_kernel(int in, off_t* in_offset, int out, off_t* out_offset, size_t length) {
  return copy_file_range(in, in_offset, out, out_offset, length, 0);
}

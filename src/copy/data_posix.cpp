// Copying the data on POSIX systems: in one call where the system has one
// (a reflink clone); otherwise the source's data segments one by one (found
// with SEEK_DATA and SEEK_HOLE, so holes stay holes), each inside the
// kernel where it can, else through a bounded buffer.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "copy/file_posix.h"

namespace {

constexpr std::size_t kBufferSize = 1 << 17;

// Errors by which a facility says it does not work for these two files.
bool unsupported(int err) {
  return err == EOPNOTSUPP || err == ENOTSUP || err == ENOTTY || err == EXDEV ||
         err == EINVAL || err == ENOSYS || err == EBADF || err == EPERM;
}

struct Copier {
  int in;
  int out;
  std::vector<char> buffer;
  off_t old_size = 0;  // of the data being written over
  bool kernel = true;  // copy_in_kernel still worth trying
  bool reading = false;

  int write_all(const char* data, std::size_t size, off_t offset) {
    while (size > 0) {
      ssize_t n = pwrite(out, data, size, offset);
      if (n < 0 && errno == EINTR)
        continue;
      if (n < 0)
        return errno;
      data += n;
      size -= static_cast<std::size_t>(n);
      offset += n;
    }
    return 0;
  }

  // Copies from `*offset` until `end` or the end of the file (end < 0: no
  // bound), advancing `*offset`.
  int by_buffer(off_t* offset, off_t end) {
    if (buffer.empty())
      buffer.resize(kBufferSize);
    while (end < 0 || *offset < end) {
      std::size_t want = end < 0 ? buffer.size()
                                 : std::min<off_t>(buffer.size(), end - *offset);
      ssize_t n = pread(in, buffer.data(), want, *offset);
      if (n < 0 && errno == EINTR)
        continue;
      if (n < 0) {
        reading = true;
        return errno;
      }
      if (n == 0)
        break;
      if (int err = write_all(buffer.data(), static_cast<std::size_t>(n), *offset))
        return err;
      *offset += n;
    }
    return 0;
  }

  int segment(off_t* offset, off_t end) {
    while (kernel && *offset < end) {
      off_t out_offset = *offset;
      ssize_t n = copy_in_kernel(in, offset, out, &out_offset,
                                 static_cast<std::size_t>(std::min<off_t>(end - *offset, 1 << 30)));
      if (n > 0)
        continue;
      if (n == 0)
        return 0;  // the file shrank
      if (errno == EINTR)
        continue;
      if (!unsupported(errno))
        return errno;
      kernel = false;
    }
    return by_buffer(offset, end);
  }

  // Makes `length` bytes at `offset` of the old data read as zeros. Past
  // the old end there is nothing to clear: the final cut to length leaves
  // a hole there.
  int clear(off_t offset, off_t length) {
    length = std::min(length, old_size - offset);
    if (length <= 0 || punch_hole(out, offset, length) == 0)
      return 0;
    std::vector<char> zeros(static_cast<std::size_t>(std::min<off_t>(length, kBufferSize)));
    while (length > 0) {
      std::size_t n = static_cast<std::size_t>(std::min<off_t>(length, zeros.size()));
      if (int err = write_all(zeros.data(), n, offset))
        return err;
      offset += static_cast<off_t>(n);
      length -= static_cast<off_t>(n);
    }
    return 0;
  }
};

// The next data segment at or after `offset`, before `size`: [*data, *hole).
// Where the system cannot tell, the rest is one segment.
int next_segment(int fd, off_t offset, off_t size, off_t* data, off_t* hole) {
  *data = lseek(fd, offset, SEEK_DATA);
  if (*data < 0) {
    if (errno == ENXIO) {  // only a hole up to the end
      *data = *hole = size;
      return 0;
    }
    if (!unsupported(errno))
      return errno;
    *data = offset;
    *hole = size;
    return 0;
  }
  *hole = lseek(fd, *data, SEEK_HOLE);
  if (*hole < 0 && !unsupported(errno))
    return errno;
  *hole = *hole < 0 ? size : std::min(*hole, size);
  return 0;
}

}  // namespace

SysError copy_data(File& in, File& out, bool over_old, bool* reading) {
  Copier c{in.fd.get(), out.fd.get(), {}};
  *reading = false;
  struct stat st;
  if (fstat(c.in, &st) != 0) {
    *reading = true;
    return errno;
  }
  if (over_old) {
    struct stat old;
    if (fstat(c.out, &old) != 0)
      return errno;
    c.old_size = old.st_size;
  } else {
    int err = copy_whole_file(c.in, c.out);
    if (err == 0)
      return 0;
    if (!unsupported(err))
      return err;
  }
  off_t offset = 0;
  while (offset < st.st_size) {
    off_t data = offset;
    off_t hole = st.st_size;
    if (int err = next_segment(c.in, offset, st.st_size, &data, &hole)) {
      *reading = true;
      return err;
    }
    int err = 0;
    if (over_old)
      err = c.clear(offset, data - offset);
    offset = data;
    if (err == 0)
      err = c.segment(&offset, hole);
    if (err != 0) {
      *reading = c.reading;
      return err;
    }
    if (offset < hole)
      break;  // the file shrank while it was copied
  }
  // Whatever the size said, read on to the real end: a file may have grown,
  // and some report no size at all.
  int err = c.by_buffer(&offset, -1);
  if (err == 0 && ftruncate(c.out, offset) != 0)
    err = errno;
  *reading = c.reading;
  return err;
}

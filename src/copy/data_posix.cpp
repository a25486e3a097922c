// Copying the data on POSIX systems: in one call where the system has one
// (a reflink clone, or the system's own copy); otherwise the source's data
// segments one by one (found with SEEK_DATA and SEEK_HOLE, so holes stay
// holes), each inside the kernel where it can, else through a bounded
// buffer, with what is copied handed to the disk behind the copy where the
// system can. Each facility that one system has and another lacks stands
// in its own section, its contract first, the real call and its stand-in
// side by side under one #if that CMake's feature test sets.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <vector>

#include "copy/file_ops.h"
#include "copy/posix.h"

#if PICKCOPY_HAVE_FICLONE
#include <linux/fs.h>
#include <sys/ioctl.h>
#elif PICKCOPY_HAVE_FCOPYFILE
#include <copyfile.h>
#endif

namespace {

constexpr std::size_t kBufferSize = 1 << 17;
// What is written behind the copy is handed to the disk in chunks of at
// least this much, and a file shorter than one is copied without it.
constexpr off_t kChunk = off_t{8} << 20;
// How many chunks are handed to the disk and not yet waited for: enough to
// keep the disk busy while the next is copied, few enough that the final
// flush finds little left.
constexpr int kChunksAhead = 2;
// The most one call of the kernel's copy is asked to move: one chunk, so
// that the writing behind and the progress move with it.
constexpr off_t kLargestKernelCopy = kChunk;

// --- Facility: the whole file in one call ----------------------------
// Copies all of `in` onto the empty file `out` at once: Linux's FICLONE
// makes a reflink clone that shares the source's blocks until either is
// written; macOS's fcopyfile(3) copies with the system's own fast paths.
// unsupported() where there is no such call for these files.

#if PICKCOPY_HAVE_FICLONE
SysError copy_whole_file(int in, int out) {
  return ioctl(out, FICLONE, in) == 0 ? SysError() : last_error();
}
#elif PICKCOPY_HAVE_FCOPYFILE
SysError copy_whole_file(int in, int out) {
  return fcopyfile(in, out, nullptr, COPYFILE_DATA) == 0 ? SysError() : last_error();
}
#else
SysError copy_whole_file(int, int) { return kNoFacility; }
#endif

// --- Facility: the kernel's copy of a range --------------------------
// Copies up to `length` bytes at `*in_offset` to `*out_offset` inside the
// kernel, advancing both, as copy_file_range(2), which Linux and FreeBSD
// have with one signature: the kernel moves the bytes, or the file system
// shares or copies them on its side (NFS and SMB servers included).
// Returns how many bytes moved (0 at the end of `in`), or -1 with the
// error in `*err`; kNoFacility where the system has no such call.

#if PICKCOPY_HAVE_COPY_FILE_RANGE
ssize_t copy_in_kernel(int in, off_t* in_offset, int out, off_t* out_offset, size_t length,
                       SysError* err) {
  ssize_t n = copy_file_range(in, in_offset, out, out_offset, length, 0);
  if (n < 0)
    *err = last_error();
  return n;
}
#else
ssize_t copy_in_kernel(int, off_t*, int, off_t*, size_t, SysError* err) {
  *err = kNoFacility;
  return -1;
}
#endif

// --- Facility: hole punching -----------------------------------------
// Frees the blocks of `length` bytes at `offset` of `fd`, which then read
// as zeros, with Linux's fallocate(2). unsupported() where that is not
// possible; the old data are then overwritten with zeros.

#if PICKCOPY_HAVE_PUNCH_HOLE
SysError punch_hole(int fd, off_t offset, off_t length) {
  return fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, offset, length) == 0
             ? SysError()
             : last_error();
}
#else
SysError punch_hole(int, off_t, off_t) { return kNoFacility; }
#endif

// --- Facility: writing behind the copy -------------------------------
// Hands `length` bytes at `offset` of `fd` to the disk: without `wait` it
// only starts their writing; with it, it waits until they are written,
// writing what is not yet. Linux's sync_file_range(2). An error is the
// file's own, a failed write-back, which a wait takes from the file (a
// later fsync no longer reports it): it fails the copy like a failed
// flush. kNoFacility where the system has no such call, as
// kWritesBehind says beforehand.

#if PICKCOPY_HAVE_SYNC_FILE_RANGE
constexpr bool kWritesBehind = true;

SysError write_back(int fd, off_t offset, off_t length, bool wait) {
  unsigned flags =
      wait ? SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER
           : SYNC_FILE_RANGE_WRITE;
  int rc;
  do
    rc = sync_file_range(fd, offset, length, flags);
  while (rc != 0 && errno == EINTR);
  if (rc == 0)
    return {};
  // Refused before anything is written or waited for: no such call in
  // this kernel, or none for this kind of file.
  if (errno == ENOSYS || errno == ESPIPE)
    return kNoFacility;
  return last_error();
}
#else
constexpr bool kWritesBehind = false;

SysError write_back(int, off_t, off_t, bool) { return kNoFacility; }
#endif

// --- The copy --------------------------------------------------------

// Writing behind the copy: what is copied is handed to the disk a chunk at
// a time, and the chunk kChunksAhead before it is waited for. So only a
// few chunks are ever unwritten, the final flush has little left to do,
// and the progress can tell what has reached the disk.
class WriteBehind {
 public:
  // Off for a file shorter than one chunk, whose flush alone writes it,
  // and where the system cannot write behind.
  WriteBehind(int fd, off_t size) : fd_(fd), on_(kWritesBehind && size >= kChunk) {}

  bool on() const { return on_; }
  // Up to here the data are on the disk.
  off_t written() const { return written_; }

  // The data are copied up to `copied`.
  SysError reached(off_t copied) {
    if (!on_ || copied - handed_ < kChunk)
      return {};
    SysError err = hand_over(copied);
    if (err.code != kNoFacility)
      return err;
    on_ = false;  // the flush at the end writes it all
    return {};
  }

 private:
  SysError hand_over(off_t copied) {
    if (SysError err = write_back(fd_, handed_, copied - handed_, false))
      return err;
    handed_ = copied;
    if (pending_ == kChunksAhead) {
      if (SysError err = write_back(fd_, written_, ends_[0] - written_, true))
        return err;
      written_ = ends_[0];
      std::copy(ends_ + 1, ends_ + pending_, ends_);
      --pending_;
    }
    ends_[pending_++] = copied;
    return {};
  }

  int fd_;
  bool on_;
  off_t handed_ = 0;               // what is handed to the disk ends here
  off_t written_ = 0;              // what the disk has written ends here
  off_t ends_[kChunksAhead] = {};  // of the chunks handed and not waited for, oldest first
  int pending_ = 0;
};

struct Copier {
  Copier(int in, int out, off_t size, CopyProgress* progress)
      : in(in), out(out), progress(progress), size(size), behind(out, size) {}

  int in;
  int out;
  CopyProgress* progress;
  off_t size;  // of the source, as it was when the copy began
  WriteBehind behind;
  std::vector<char> buffer;
  off_t old_size = 0;  // of the data being written over
  bool kernel = true;  // copy_in_kernel still worth trying

  // The data are copied up to `offset`: the writing behind goes on, and
  // the progress is told what has reached the disk, or where nothing is
  // written behind, what is copied.
  SysError moved(off_t offset) {
    if (SysError err = behind.reached(offset))
      return err;
    if (progress != nullptr)
      progress->advanced(static_cast<std::uint64_t>(behind.on() ? behind.written() : offset),
                         static_cast<std::uint64_t>(std::max(offset, size)));
    return {};
  }

  SysError write_all(const char* data, std::size_t size, off_t offset) {
    while (size > 0) {
      ssize_t n = pwrite(out, data, size, offset);
      if (n < 0 && errno == ESPIPE)
        n = write(out, data, size);  // a file of the kernel's, written in order
      if (n < 0 && errno == EINTR)
        continue;
      if (n < 0)
        return last_error();
      if (n == 0)
        return EIO;  // a write that takes nothing would be tried for ever
      data += n;
      size -= static_cast<std::size_t>(n);
      offset += n;
    }
    return {};
  }

  // Copies from `*offset` until `end` or the end of the file (end < 0: no
  // bound), advancing `*offset`.
  SysError by_buffer(off_t* offset, off_t end) {
    if (buffer.empty())
      buffer.resize(kBufferSize);
    while (end < 0 || *offset < end) {
      std::size_t want = end < 0 ? buffer.size()
                                 : static_cast<std::size_t>(std::min<off_t>(
                                       static_cast<off_t>(buffer.size()), end - *offset));
      ssize_t n = pread(in, buffer.data(), want, *offset);
      if (n < 0 && errno == EINTR)
        continue;
      if (n < 0)
        return source_error();
      if (n == 0)
        break;
      if (SysError err = write_all(buffer.data(), static_cast<std::size_t>(n), *offset))
        return err;
      *offset += n;
      if (SysError err = moved(*offset))
        return err;
    }
    return {};
  }

  SysError segment(off_t* offset, off_t end) {
    while (kernel && *offset < end) {
      off_t out_offset = *offset;
      SysError err;
      ssize_t n = copy_in_kernel(
          in, offset, out, &out_offset,
          static_cast<std::size_t>(std::min(end - *offset, kLargestKernelCopy)), &err);
      if (n > 0) {
        if (SysError moving = moved(*offset))
          return moving;
        continue;
      }
      if (n == 0)
        return {};  // the file shrank
      if (err.code == EINTR)
        continue;
      if (!unsupported(err))
        return err;
      kernel = false;
    }
    return by_buffer(offset, end);
  }

  // Makes `length` bytes at `offset` of the old data read as zeros. Past
  // the old end there is nothing to clear: the final cut to length leaves
  // a hole there.
  SysError clear(off_t offset, off_t length) {
    length = std::min(length, old_size - offset);
    if (length <= 0)
      return {};
    SysError punched = punch_hole(out, offset, length);
    if (!punched)
      return {};
    // Any failure to punch leaves the zeros to be written; a failure of
    // that writing is the one that counts.
    std::vector<char> zeros(static_cast<std::size_t>(std::min<off_t>(length, kBufferSize)));
    while (length > 0) {
      std::size_t n =
          static_cast<std::size_t>(std::min<off_t>(length, static_cast<off_t>(zeros.size())));
      if (SysError err = write_all(zeros.data(), n, offset))
        return err;
      offset += static_cast<off_t>(n);
      length -= static_cast<off_t>(n);
    }
    return {};
  }
};

// The next data segment at or after `offset`, before `size`: [*data, *hole).
// Where the system cannot tell, the rest is one segment.
SysError next_segment(int fd, off_t offset, off_t size, off_t* data, off_t* hole) {
  *data = lseek(fd, offset, SEEK_DATA);
  if (*data < 0) {
    if (errno == ENXIO) {  // only a hole up to the end, wherever that is now
      struct stat now;
      if (fstat(fd, &now) != 0)
        return source_error();
      *data = *hole = std::min(size, now.st_size);
      return {};
    }
    if (!unsupported(last_error()))
      return source_error();
    *data = offset;
    *hole = size;
    return {};
  }
  *hole = lseek(fd, *data, SEEK_HOLE);
  if (*hole < 0 && !unsupported(last_error()))
    return source_error();
  *hole = *hole < 0 ? size : std::min(*hole, size);
  return {};
}

}  // namespace

SysError copy_data(File& in, File& out, bool over_old, CopyProgress* progress) {
  struct stat st;
  if (fstat(fd_of(in), &st) != 0)
    return source_error();
  Copier c(fd_of(in), fd_of(out), st.st_size, progress);
  if (over_old) {
    struct stat old;
    if (fstat(c.out, &old) != 0)
      return last_error();
    c.old_size = old.st_size;
  } else {
    SysError err = copy_whole_file(c.in, c.out);
    if (!err)
      return {};
    if (!unsupported(err))
      return err;
  }
  off_t offset = 0;
  while (offset < st.st_size) {
    off_t data = offset;
    off_t hole = st.st_size;
    if (SysError err = next_segment(c.in, offset, st.st_size, &data, &hole))
      return err;
    SysError err;
    if (over_old)
      err = c.clear(offset, data - offset);
    if (!err && data >= hole) {
      offset = data;  // no more data: the file ends there, in a hole or not
      break;
    }
    offset = data;
    if (!err)
      err = c.segment(&offset, hole);
    if (err)
      return err;
    if (offset < hole)
      break;  // the file shrank while it was copied
  }
  // Whatever the size said, read on to the real end: a file may have grown,
  // and some report no size at all.
  if (SysError err = c.by_buffer(&offset, -1))
    return err;
  // The length is set only where it is not right already: some file systems
  // refuse any truncation that does not shrink (FAT through FUSE). A file
  // that ends in a hole is shorter than its length until then.
  struct stat now;
  if (fstat(c.out, &now) != 0)
    return last_error();
  if (now.st_size == offset)
    return {};
  return ftruncate(c.out, offset) == 0 ? SysError() : last_error();
}

SysError check_room(File& in, File& out) {
  int from = fd_of(in);
  int to = fd_of(out);
  struct stat source, target;
  struct statvfs fs;
  struct rlimit limit;
  if (fstat(from, &source) != 0) {
    SysError err = source_error();
    return err;
  }
  if (fstat(to, &target) != 0 || fstatvfs(to, &fs) != 0)
    return last_error();
  // What the data take, holes left out, beyond what the target has already.
  auto blocks = [](const struct stat& st) {
    return static_cast<std::uint64_t>(st.st_blocks) * 512;
  };
  std::uint64_t need = blocks(source) > blocks(target) ? blocks(source) - blocks(target) : 0;
  std::uint64_t free =
      static_cast<std::uint64_t>(geteuid() == 0 ? fs.f_bfree : fs.f_bavail) * fs.f_frsize;
  // A file system with no blocks at all (/proc, /sys) keeps no data of its
  // own: its room cannot be told, and the writing goes ahead.
  if (need > free && fs.f_blocks != 0)
    return ENOSPC;
  if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      static_cast<std::uint64_t>(source.st_size) > static_cast<std::uint64_t>(limit.rlim_cur))
    return EFBIG;
  return {};
}

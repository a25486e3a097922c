// blocklog: a FUSE file system that serves one file, "disk", backed by an
// image, and logs every write, discard and flush that reaches it, in the
// order they arrive. A loop device over "disk" then gives a block log of
// whatever file system is made on it: the crash-state test replays it.
//
//     blocklog [--rate MB/s] IMAGE LOG MOUNTPOINT
//
// It runs in the foreground and single-threaded, so that the log's order
// is the order of arrival; "disk" is opened with direct_io, so that no
// page cache of FUSE's own stands between the loop device and the log.
// A LOG of "-" keeps no log. --rate makes a slow disk, for the benchmark:
// each read and write takes as long as that many megabytes (10^6 bytes) a
// second allow, one after another, as on a disk that does one thing at a
// time.
// A flush the loop device passes down arrives as fsync, a discard as
// fallocate; both are implemented, since without .fsync the kernel would
// stop sending flushes and the log would have no barriers.
//
// Each record of LOG is a header of three 64-bit words in the machine's
// order, kind, offset, length, then for a write its bytes:
//   kind 'W'  a write of `length` bytes at `offset`
//   kind 'D'  a discard (or zeroing) of `length` bytes at `offset`
//   kind 'F'  a flush
#define FUSE_USE_VERSION 31
#include <fuse.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

constexpr const char* kDisk = "/disk";
int g_image = -1;
int g_log = -1;
off_t g_size = 0;
double g_rate = 0;  // bytes a second; 0: no limit

using Clock = std::chrono::steady_clock;
Clock::time_point g_free_at;  // when the disk is done with what it was given

// Takes as long as `bytes` take at the rate, after what came before.
void pace(size_t bytes) {
  if (g_rate <= 0)
    return;
  auto takes = std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(static_cast<double>(bytes) / g_rate));
  g_free_at = std::max(g_free_at, Clock::now()) + takes;
  std::this_thread::sleep_until(g_free_at);
}

// Appends one record; a log that cannot be written is a failed operation,
// so that a test never replays a log with a hole in it.
int log_record(uint64_t kind, uint64_t offset, uint64_t length, const void* data) {
  if (g_log < 0)
    return 0;
  uint64_t header[3] = {kind, offset, length};
  iovec parts[2] = {{header, sizeof header}, {const_cast<void*>(data), data ? length : 0}};
  ssize_t want = static_cast<ssize_t>(sizeof header + (data ? length : 0));
  return writev(g_log, parts, data ? 2 : 1) == want ? 0 : -EIO;
}

// No writeback cache: each write reaches the log when the loop device
// makes it, not when FUSE would gather it.
void* disk_init(fuse_conn_info* conn, fuse_config*) {
  conn->want &= ~FUSE_CAP_WRITEBACK_CACHE;
  return nullptr;
}

int disk_getattr(const char* path, struct stat* st, fuse_file_info*) {
  std::memset(st, 0, sizeof *st);
  if (std::strcmp(path, "/") == 0) {
    st->st_mode = S_IFDIR | 0755;
    st->st_nlink = 2;
  } else if (std::strcmp(path, kDisk) == 0) {
    st->st_mode = S_IFREG | 0600;
    st->st_nlink = 1;
    st->st_size = g_size;
  } else {
    return -ENOENT;
  }
  return 0;
}

int disk_readdir(const char* path, void* buf, fuse_fill_dir_t fill, off_t, fuse_file_info*,
                 fuse_readdir_flags) {
  if (std::strcmp(path, "/") != 0)
    return -ENOENT;
  fill(buf, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  fill(buf, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  fill(buf, kDisk + 1, nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  return 0;
}

int disk_open(const char* path, fuse_file_info* fi) {
  if (std::strcmp(path, kDisk) != 0)
    return -ENOENT;
  fi->direct_io = 1;
  return 0;
}

int disk_read(const char*, char* buf, size_t size, off_t offset, fuse_file_info*) {
  pace(size);
  ssize_t n = pread(g_image, buf, size, offset);
  return n < 0 ? -errno : static_cast<int>(n);
}

int disk_write(const char*, const char* buf, size_t size, off_t offset, fuse_file_info*) {
  if (offset < 0 || offset + static_cast<off_t>(size) > g_size)
    return -ENOSPC;
  pace(size);
  ssize_t n = pwrite(g_image, buf, size, offset);
  if (n < 0)
    return -errno;
  int logged = log_record('W', offset, static_cast<uint64_t>(n), buf);
  return logged < 0 ? logged : static_cast<int>(n);
}

int disk_fsync(const char*, int, fuse_file_info*) { return log_record('F', 0, 0, nullptr); }

int disk_fallocate(const char*, int mode, off_t offset, off_t length, fuse_file_info*) {
  if (fallocate(g_image, mode, offset, length) != 0)
    return -errno;
  return log_record('D', offset, length, nullptr);
}

int disk_truncate(const char*, off_t size, fuse_file_info*) {
  return size == g_size ? 0 : -EPERM;  // the disk keeps its size
}

}  // namespace

int main(int argc, char** argv) {
  int first = 1;  // of IMAGE LOG MOUNTPOINT
  if (argc == 6 && std::strcmp(argv[1], "--rate") == 0) {
    g_rate = std::atof(argv[2]) * 1e6;
    first = 3;
  }
  if (argc != first + 3 || g_rate < 0) {
    std::fprintf(stderr, "usage: blocklog [--rate MB/s] IMAGE LOG MOUNTPOINT\n");
    return 2;
  }
  const char* image = argv[first];
  const char* log = argv[first + 1];
  g_image = open(image, O_RDWR | O_CLOEXEC);
  if (g_image < 0) {
    std::fprintf(stderr, "blocklog: %s: %s\n", image, std::strerror(errno));
    return 1;
  }
  if (std::strcmp(log, "-") != 0) {
    g_log = open(log, O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0600);
    if (g_log < 0) {
      std::fprintf(stderr, "blocklog: %s: %s\n", log, std::strerror(errno));
      return 1;
    }
  }
  struct stat st;
  if (fstat(g_image, &st) != 0) {
    std::fprintf(stderr, "blocklog: %s: %s\n", image, std::strerror(errno));
    return 1;
  }
  g_size = st.st_size;

  fuse_operations ops{};
  ops.init = disk_init;
  ops.getattr = disk_getattr;
  ops.readdir = disk_readdir;
  ops.open = disk_open;
  ops.read = disk_read;
  ops.write = disk_write;
  ops.fsync = disk_fsync;
  ops.fallocate = disk_fallocate;
  ops.truncate = disk_truncate;
  // Foreground, single-threaded; the kernel's own permission checks.
  char* args[] = {argv[0],
                  const_cast<char*>("-f"),
                  const_cast<char*>("-s"),
                  const_cast<char*>("-o"),
                  const_cast<char*>("default_permissions"),
                  argv[first + 2],
                  nullptr};
  return fuse_main(6, args, &ops, nullptr);
}

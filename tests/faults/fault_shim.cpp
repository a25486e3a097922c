// A fault-injection shim, loaded with LD_PRELOAD into pickcopy.
//
// It stays passive until pickcopy flushes standard output after its echo;
// from then on it counts the calls of the system calls a copy uses, per
// call name.
//   FAULT_CALL=name FAULT_NTH=n FAULT_ERRNO=e   the n-th call of `name`
//                                              fails with errno e
//   FAULT_FORCE=name:n:e                       also the n-th call of `name`
//                                              (every call for n = 0) fails
//                                              with errno e, to steer the
//                                              copy onto a fallback path
//   FAULT_LOG=path                             the sequence of calls made
//                                              is written there at exit
//   FAULT_SLOW=name:ms                         every call of `name` first
//                                              waits ms milliseconds, so
//                                              that a small copy is slow
//   FAULT_PAUSE=name:n:path                    before the n-th call of
//                                              `name`, creates `path` and
//                                              waits until it is removed,
//                                              so that a test can act then
//   FAULT_SKIP=name[:n]                        the n-th call of `name` (every
//                                              call without n or for n = 0)
//                                              does nothing and returns 0:
//                                              a flush that is a no-op
// Calls on the standard streams are never failed.
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <stdarg.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

namespace {

bool g_armed = false;

int fault_errno() {
  const char* e = std::getenv("FAULT_ERRNO");
  return e ? std::atoi(e) : EIO;
}

std::string* g_trace = nullptr;  // one call name a line, in call order
std::map<std::string, int>* g_counts = nullptr;

template <typename F>
F real(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

// FAULT_PAUSE: tells the test that the call `name`, the `count`-th, is
// next, and waits (a minute at most) for the test to say go on.
void pause_before(const char* name, int count) {
  const char* pause = std::getenv("FAULT_PAUSE");
  char paused[64], path[4096];
  int nth = 0;
  if (pause == nullptr || std::sscanf(pause, "%63[^:]:%d:%4095s", paused, &nth, path) != 3 ||
      std::strcmp(paused, name) != 0 || nth != count)
    return;
  int fd = real<int (*)(const char*, int, ...)>("open")(path, O_CREAT | O_WRONLY, 0600);
  if (fd >= 0)
    real<int (*)(int)>("close")(fd);
  auto exists = real<int (*)(const char*, int)>("access");
  for (int waited = 0; waited < 60000 && exists(path, F_OK) == 0; ++waited)
    usleep(1000);
}

// With 64-bit file offsets on a 32-bit system, the calls that take an
// offset are the *64 symbols (this file is built the same way).
template <typename F>
F real_with_offset(const char* name) {
  if (sizeof(long) == 8)
    return real<F>(name);
  return real<F>((std::string(name) + "64").c_str());
}

void write_trace() {
  const char* path = std::getenv("FAULT_LOG");
  if (path == nullptr || g_trace == nullptr)
    return;
  if (FILE* f = std::fopen(path, "w")) {
    std::fputs(g_trace->c_str(), f);
    std::fclose(f);
  }
}

// Counts a call of `name`; true when this call is to fail.
bool should_fail(const char* name, int fd = -1) {
  if (!g_armed || (fd >= 0 && fd <= 2))
    return false;
  if (g_trace == nullptr) {
    g_trace = new std::string;
    g_counts = new std::map<std::string, int>;
    std::atexit(write_trace);
  }
  *g_trace += name;
  *g_trace += '\n';
  int count = ++(*g_counts)[name];
  pause_before(name, count);
  if (const char* slow = std::getenv("FAULT_SLOW")) {
    char slowed[64];
    int ms = 0;
    if (std::sscanf(slow, "%63[^:]:%d", slowed, &ms) == 2 && std::strcmp(slowed, name) == 0)
      usleep(static_cast<useconds_t>(ms) * 1000);
  }
  if (const char* force = std::getenv("FAULT_FORCE")) {
    char forced[64];
    int nth = 0;
    int err = 0;
    if (std::sscanf(force, "%63[^:]:%d:%d", forced, &nth, &err) == 3 &&
        std::strcmp(forced, name) == 0 && (nth == 0 || nth == count)) {
      errno = err;
      return true;
    }
  }
  errno = fault_errno();
  const char* call = std::getenv("FAULT_CALL");
  const char* nth = std::getenv("FAULT_NTH");
  return call != nullptr && std::strcmp(call, name) == 0 && count == (nth ? std::atoi(nth) : 1);
}

// FAULT_SKIP: true when this call of `name`, just counted by should_fail,
// is to do nothing and succeed. Only the calls made with PICKCOPY_FAULT.
bool skipped(const char* name, int fd) {
  const char* skip = std::getenv("FAULT_SKIP");
  if (!g_armed || skip == nullptr || (fd >= 0 && fd <= 2) || g_counts == nullptr)
    return false;
  char skipping[64];
  int nth = 0;
  return std::sscanf(skip, "%63[^:]:%d", skipping, &nth) >= 1 && std::strcmp(skipping, name) == 0 &&
         (nth == 0 || nth == (*g_counts)[name]);
}

mode_t mode_of(int flags, va_list args) {
  return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(args, mode_t) : 0;
}

}  // namespace

extern "C" {

// An open counts as a call named for what it opens, so that each can be
// refused without refusing every open: an unnamed temporary file, a new
// file, a folder held or flushed, or any other file.
const char* open_kind(const char* plain, int flags) {
  if ((flags & O_TMPFILE) == O_TMPFILE)
    return "open_tmpfile";
  if (flags & O_CREAT)
    return "open_create";
  if (flags & O_DIRECTORY)
    return "open_folder";
  return plain;
}

int open(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  mode_t mode = mode_of(flags, args);
  va_end(args);
  if (should_fail(open_kind("open", flags)))
    return -1;
  return real_with_offset<int (*)(const char*, int, ...)>("open")(path, flags, mode);
}

int openat(int dir, const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  mode_t mode = mode_of(flags, args);
  va_end(args);
  if (should_fail(open_kind("openat", flags)))
    return -1;
  return real_with_offset<int (*)(int, const char*, int, ...)>("openat")(dir, path, flags, mode);
}

ssize_t read(int fd, void* buf, size_t n) {
  if (should_fail("read", fd))
    return -1;
  return real<ssize_t (*)(int, void*, size_t)>("read")(fd, buf, n);
}

ssize_t write(int fd, const void* buf, size_t n) {
  if (should_fail("write", fd))
    return -1;
  return real<ssize_t (*)(int, const void*, size_t)>("write")(fd, buf, n);
}

ssize_t pread(int fd, void* buf, size_t n, off_t offset) {
  if (should_fail("pread", fd))
    return -1;
  return real_with_offset<ssize_t (*)(int, void*, size_t, off_t)>("pread")(fd, buf, n, offset);
}

ssize_t pwrite(int fd, const void* buf, size_t n, off_t offset) {
  if (should_fail("pwrite", fd))
    return -1;
  return real_with_offset<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite")(fd, buf, n,
                                                                                  offset);
}

// With _FORTIFY_SOURCE, a read into a buffer whose size the compiler knows
// is a call of the checking variant; each counts as the call it checks.
ssize_t __read_chk(int fd, void* buf, size_t n, size_t room) {
  if (should_fail("read", fd))
    return -1;
  return real<ssize_t (*)(int, void*, size_t, size_t)>("__read_chk")(fd, buf, n, room);
}

ssize_t __pread64_chk(int fd, void* buf, size_t n, off64_t offset, size_t room) {
  if (should_fail("pread", fd))
    return -1;
  return real<ssize_t (*)(int, void*, size_t, off64_t, size_t)>("__pread64_chk")(fd, buf, n, offset,
                                                                                 room);
}

off_t lseek(int fd, off_t offset, int whence) {
  if (should_fail("lseek", fd))
    return -1;
  return real_with_offset<off_t (*)(int, off_t, int)>("lseek")(fd, offset, whence);
}

ssize_t flistxattr(int fd, char* list, size_t size) {
  if (should_fail("flistxattr", fd))
    return -1;
  return real<ssize_t (*)(int, char*, size_t)>("flistxattr")(fd, list, size);
}

ssize_t listxattr(const char* path, char* list, size_t size) {
  if (should_fail("listxattr"))
    return -1;
  return real<ssize_t (*)(const char*, char*, size_t)>("listxattr")(path, list, size);
}

ssize_t getxattr(const char* path, const char* name, void* value, size_t size) {
  if (should_fail("getxattr"))
    return -1;
  return real<ssize_t (*)(const char*, const char*, void*, size_t)>("getxattr")(path, name, value,
                                                                                size);
}

// pickcopy flushes standard output just after its echo, before the copy.
int fflush(FILE* stream) {
  int result = real<int (*)(FILE*)>("fflush")(stream);
  if (stream == stdout)
    g_armed = true;
  return result;
}

ssize_t copy_file_range(int in, off64_t* in_off, int out, off64_t* out_off, size_t n,
                        unsigned flags) {
  if (should_fail("copy_file_range", out))
    return -1;
  return real<ssize_t (*)(int, off64_t*, int, off64_t*, size_t, unsigned)>("copy_file_range")(
      in, in_off, out, out_off, n, flags);
}

int ioctl(int fd, unsigned long request, ...) {
  va_list args;
  va_start(args, request);
  void* arg = va_arg(args, void*);
  va_end(args);
  // The file flags' requests count apart from the data's (a clone).
  bool flags = request == FS_IOC_GETFLAGS || request == FS_IOC_SETFLAGS ||
               request == FS_IOC_FSGETXATTR || request == FS_IOC_FSSETXATTR;
  if (should_fail(flags ? "ioctl_flags" : "ioctl", fd))
    return -1;
  return real<int (*)(int, unsigned long, void*)>("ioctl")(fd, request, arg);
}

#define PICKCOPY_FAULT_AS(name, params, args, fd, lookup) \
  int name params {                                       \
    if (should_fail(#name, fd))                           \
      return -1;                                          \
    if (skipped(#name, fd))                               \
      return 0;                                           \
    return lookup<int(*) params>(#name) args;             \
  }
#define PICKCOPY_FAULT(name, params, args, fd) PICKCOPY_FAULT_AS(name, params, args, fd, real)

PICKCOPY_FAULT(fsync, (int fd), (fd), fd)
PICKCOPY_FAULT(fchmod, (int fd, mode_t mode), (fd, mode), fd)
PICKCOPY_FAULT(fchown, (int fd, uid_t uid, gid_t gid), (fd, uid, gid), fd)
PICKCOPY_FAULT(linkat, (int a, const char* from, int b, const char* to, int flags),
               (a, from, b, to, flags), -1)
PICKCOPY_FAULT(renameat, (int a, const char* from, int b, const char* to), (a, from, b, to), -1)
PICKCOPY_FAULT(renameat2, (int a, const char* from, int b, const char* to, unsigned flags),
               (a, from, b, to, flags), -1)
PICKCOPY_FAULT_AS(fstatat, (int dir, const char* path, struct stat* st, int flags),
                  (dir, path, st, flags), -1, real_with_offset)
PICKCOPY_FAULT_AS(ftruncate, (int fd, off_t length), (fd, length), fd, real_with_offset)
PICKCOPY_FAULT_AS(fallocate, (int fd, int mode, off_t offset, off_t length),
                  (fd, mode, offset, length), fd, real_with_offset)
PICKCOPY_FAULT(faccessat, (int dir, const char* path, int mode, int flags),
               (dir, path, mode, flags), -1)
PICKCOPY_FAULT(access, (const char* path, int mode), (path, mode), -1)
PICKCOPY_FAULT(fsetxattr, (int fd, const char* name, const void* value, size_t size, int flags),
               (fd, name, value, size, flags), fd)
PICKCOPY_FAULT(fremovexattr, (int fd, const char* name), (fd, name), fd)
PICKCOPY_FAULT(sync_file_range, (int fd, off64_t offset, off64_t length, unsigned flags),
               (fd, offset, length, flags), fd)

ssize_t readlinkat(int dir, const char* path, char* buf, size_t size) {
  if (should_fail("readlinkat"))
    return -1;
  return real<ssize_t (*)(int, const char*, char*, size_t)>("readlinkat")(dir, path, buf, size);
}

// Only the close of a file open for writing can tell of data lost; the
// close of one only read or held is not counted. A failed close still
// releases the descriptor, as on Linux.
int close(int fd) {
  int flags = fcntl(fd, F_GETFL);
  bool written = flags >= 0 && (flags & O_ACCMODE) != O_RDONLY
#ifdef O_PATH
                 && (flags & O_PATH) == 0
#endif
      ;
  int result = real<int (*)(int)>("close")(fd);
  if (written && should_fail("close", fd))
    return -1;
  return result;
}

}  // extern "C"

// The copy on POSIX systems: no shell, no other program. The data go to a
// temporary file beside the target (unnamed where the file system allows
// it), are flushed with fsync, and the file is renamed over the target, so
// the target is never seen half-written.
#include <fcntl.h>
#include <limits.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "dialogue/copy_file.h"
#include "dialogue/unique_fd.h"

namespace {

// The name of the temporary file while it has one, for the signal handler.
const char* volatile g_temporary_name = nullptr;

void remove_temporary_and_die(int sig) {
  const char* name = g_temporary_name;
  if (name != nullptr)
    unlink(name);
  signal(sig, SIG_DFL);
  raise(sig);
}

// While alive, an interrupt, SIGTERM or SIGHUP removes the temporary file
// before the program ends with that signal. Signals already ignored stay
// ignored.
class SignalGuard {
 public:
  SignalGuard() {
    struct sigaction action {};
    action.sa_handler = remove_temporary_and_die;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < kCount; ++i) {
      sigaction(kSignals[i], nullptr, &saved_[i]);
      if (saved_[i].sa_handler != SIG_IGN)
        sigaction(kSignals[i], &action, nullptr);
    }
  }
  ~SignalGuard() {
    for (int i = 0; i < kCount; ++i)
      sigaction(kSignals[i], &saved_[i], nullptr);
    g_temporary_name = nullptr;
  }

 private:
  static constexpr int kCount = 3;
  static constexpr int kSignals[kCount] = {SIGINT, SIGTERM, SIGHUP};
  struct sigaction saved_[kCount];
};

// The directory part of `path`, with its trailing '/'; empty for none.
std::string directory_of(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string last_component(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Follows symbolic links from `path` to the file they lead to, which may
// not exist yet. Returns 0 or an errno value.
int follow_links(std::string path, std::string* result) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
      *result = path;
      return 0;
    }
    std::vector<char> link(static_cast<std::size_t>(st.st_size) + PATH_MAX);
    ssize_t n = readlink(path.c_str(), link.data(), link.size());
    if (n < 0)
      return errno;
    std::string next(link.data(), static_cast<std::size_t>(n));
    path = next[0] == '/' ? next : directory_of(path) + next;
  }
  return ELOOP;
}

bool unsupported(int err) {
  return err == EOPNOTSUPP || err == ENOTTY || err == EXDEV ||
         err == EINVAL || err == ENOSYS || err == EBADF || err == EPERM;
}

// Sets `*reading` when the failure was in reading the source.
int copy_by_reading(int in, int out, bool* reading) {
  std::vector<char> buffer(1 << 17);
  for (;;) {
    ssize_t n = read(in, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR)
      continue;
    *reading = n < 0;
    if (n <= 0)
      return n < 0 ? errno : 0;
    for (ssize_t done = 0; done < n;) {
      ssize_t w = write(out, buffer.data() + done, static_cast<std::size_t>(n - done));
      if (w < 0 && errno == EINTR)
        continue;
      if (w < 0)
        return errno;
      done += w;
    }
  }
}

// Copies all of `in` to the empty file `out`: a reflink clone where the
// file system shares blocks, else copy_file_range, else plain reads and
// writes. Returns 0 or an errno value; `*reading` tells whether reading
// the source failed.
int copy_data(int in, int out, bool* reading) {
  *reading = false;
  if (ioctl(out, FICLONE, in) == 0)
    return 0;
  if (!unsupported(errno))
    return errno;
  bool copied = false;
  for (;;) {
    ssize_t n = copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
    if (n > 0) {
      copied = true;
      continue;
    }
    if (n == 0 && copied)
      return 0;
    // Nothing copied: the kernel may not support it here, or the file may
    // report no size (as some special files do); reading settles both.
    if (n == 0 || (!copied && unsupported(errno)))
      return copy_by_reading(in, out, reading);
    if (errno != EINTR)
      return errno;
  }
}

// A temporary file in `directory` ("" for the current one). Where the file
// system supports it the file has no name until `name_it` gives it one, so
// nothing stray is left even if the program is killed.
class TemporaryFile {
 public:
  // Returns 0 or an errno value.
  int create(const std::string& directory, mode_t mode) {
#ifdef O_TMPFILE
    const char* where = directory.empty() ? "." : directory.c_str();
    fd_.reset(open(where, O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
    if (fd_.valid())
      return 0;
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
      return errno;
#endif
    for (int attempt = 0; attempt < 100; ++attempt) {
      name_ = make_name(directory);
      fd_.reset(open(name_.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, mode));
      if (fd_.valid()) {
        g_temporary_name = name_.c_str();
        return 0;
      }
      if (errno != EEXIST)
        break;
    }
    name_.clear();
    return errno;
  }

  ~TemporaryFile() { discard(); }

  int fd() const { return fd_.get(); }

  // Gives an unnamed file its name in the directory, just before the
  // rename. Returns 0 or an errno value.
  int name_it(const std::string& directory) {
    if (!name_.empty())
      return 0;
    std::string proc = "/proc/self/fd/" + std::to_string(fd_.get());
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::string name = make_name(directory);
      if (linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        name_ = name;
        g_temporary_name = name_.c_str();
        return 0;
      }
      if (errno != EEXIST)
        return errno;
    }
    return EEXIST;
  }

  int close() { return fd_.close(); }

  // Renames the file over `target`; it is no longer temporary.
  int rename_to(const std::string& target) {
    if (rename(name_.c_str(), target.c_str()) != 0)
      return errno;
    g_temporary_name = nullptr;
    name_.clear();
    return 0;
  }

 private:
  void discard() {
    if (!name_.empty()) {
      g_temporary_name = nullptr;
      unlink(name_.c_str());
      name_.clear();
    }
  }

  static std::string make_name(const std::string& directory) {
    static unsigned counter = 0;
    unsigned long stamp = static_cast<unsigned long>(std::time(nullptr)) ^
                          (static_cast<unsigned long>(getpid()) << 16) ^
                          (++counter * 2654435761u);
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, "%lx", stamp);
    return directory + ".pickcopy-" + suffix;
  }

  std::string name_;
  UniqueFd fd_;
};

bool fail(CopyFailure* failure, const std::string& file, const char* reason) {
  failure->file = file;
  failure->reason = reason;
  return false;
}

bool fail(CopyFailure* failure, const std::string& file, int err) {
  return fail(failure, file, std::strerror(err));
}

// Syncs the directory so that the rename itself is on disk.
int sync_directory(const std::string& directory) {
  UniqueFd fd(open(directory.empty() ? "." : directory.c_str(),
                   O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.valid())
    return errno;
  if (fsync(fd.get()) != 0 && errno != EINVAL)
    return errno;
  return fd.close();
}

mode_t current_umask() {
  mode_t mask = umask(0);
  umask(mask);
  return mask;
}

}  // namespace

bool copy_file(const std::string& source, const std::string& target,
               CopyFailure* failure) {
  UniqueFd in(open(source.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  struct stat from;
  if (!in.valid() || fstat(in.get(), &from) != 0)
    return fail(failure, source, errno);
  if (S_ISDIR(from.st_mode))
    return fail(failure, source, EISDIR);
  if (!S_ISREG(from.st_mode))
    return fail(failure, source, "Not a regular file");
  fcntl(in.get(), F_SETFL, fcntl(in.get(), F_GETFL) & ~O_NONBLOCK);

  std::string shown = target;
  std::string real;
  int err = follow_links(shown, &real);
  struct stat to;
  bool exists = err == 0 && stat(real.c_str(), &to) == 0;
  if (err == 0 && exists && S_ISDIR(to.st_mode)) {
    shown = real + (real.back() == '/' ? "" : "/") + last_component(source);
    err = follow_links(shown, &real);
    exists = err == 0 && stat(real.c_str(), &to) == 0;
  }
  if (err != 0)
    return fail(failure, shown, err);
  if (exists && !S_ISREG(to.st_mode))
    return fail(failure, shown, "Not a regular file");

  // An existing target keeps its permission bits and, where allowed, its
  // owner; a new one gets the source's bits less the umask, as cp gives.
  mode_t mode = exists ? (to.st_mode & 07777) : (from.st_mode & 0777 & ~current_umask());
  std::string directory = directory_of(real);
  SignalGuard guard;
  TemporaryFile temporary;
  if ((err = temporary.create(directory, 0600)) != 0)
    return fail(failure, shown, err);
  bool reading;
  if ((err = copy_data(in.get(), temporary.fd(), &reading)) != 0)
    return fail(failure, reading ? source : shown, err);
  if (fchmod(temporary.fd(), mode) != 0)
    return fail(failure, shown, errno);
  if (exists && (to.st_uid != geteuid() || to.st_gid != getegid()) &&
      fchown(temporary.fd(), to.st_uid, to.st_gid) != 0 && errno != EPERM)
    return fail(failure, shown, errno);
  if (fsync(temporary.fd()) != 0)
    return fail(failure, shown, errno);
  if ((err = temporary.name_it(directory)) != 0 ||
      (err = temporary.close()) != 0 ||
      (err = temporary.rename_to(real)) != 0)
    return fail(failure, shown, err);
  if ((err = sync_directory(directory)) != 0)
    return fail(failure, shown, err);
  return true;
}

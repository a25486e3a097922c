// The copy's primitives on POSIX systems.
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "copy/file_posix.h"
#include "path/path.h"

namespace {

std::string directory_or_dot(const std::string& directory) {
  return directory.empty() ? "." : directory;
}

}  // namespace

std::string describe_error(SysError err) {
  return err == kNotRegularFile ? "Not a regular file" : std::strerror(err);
}

void FileCloser::operator()(File* file) const { delete file; }

SysError open_source(const std::string& path, FilePtr* file, unsigned* mode) {
  // O_NONBLOCK keeps a named pipe from blocking the open.
  UniqueFd fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  struct stat st;
  if (!fd.valid() || fstat(fd.get(), &st) != 0)
    return errno;
  if (S_ISDIR(st.st_mode))
    return EISDIR;
  if (!S_ISREG(st.st_mode))
    return kNotRegularFile;
  fcntl(fd.get(), F_SETFL, fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
  *mode = st.st_mode & 0777;
  file->reset(new File{std::move(fd)});
  return 0;
}

SysError follow_links(const std::string& path, std::string* real) {
  std::string at = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
      *real = at;
      return 0;
    }
    std::vector<char> link(static_cast<std::size_t>(st.st_size) + PATH_MAX);
    ssize_t n = readlink(at.c_str(), link.data(), link.size());
    if (n < 0)
      return errno;
    std::string next(link.data(), static_cast<std::size_t>(n));
    at = next[0] == '/' ? next : std::string(directory_part(at, "/")) + next;
  }
  return ELOOP;
}

SysError path_status(const std::string& path, PathStatus* status) {
  struct stat st;
  *status = PathStatus();
  if (stat(path.c_str(), &st) != 0)
    return errno == ENOENT ? 0 : errno;
  status->exists = true;
  status->directory = S_ISDIR(st.st_mode);
  status->regular = S_ISREG(st.st_mode);
  return 0;
}

bool same_file(File& file, const std::string& path) {
  struct stat a, b;
  return fstat(file.fd.get(), &a) == 0 && stat(path.c_str(), &b) == 0 &&
         a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

SysError check_writable(const std::string& path) {
  // The effective user's right, as an open for writing would judge it:
  // permission bits and ACLs, and root may.
  return faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0 ? 0 : errno;
}

bool refuses_replace(SysError err) {
  return err == EACCES || err == EPERM || err == EBUSY || err == EXDEV ||
         err == EROFS || err == EOPNOTSUPP || err == ENOTSUP;
}

SysError create_temporary(const std::string& directory, unsigned mode, TempFile* temp) {
  // An unnamed file leaves nothing behind, whatever ends the program.
  int fd = open_unnamed(directory_or_dot(directory), mode);
  if (fd >= 0) {
    temp->file.reset(new File{UniqueFd(fd)});
    temp->name.clear();
    return 0;
  }
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
    return errno;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = temporary_name(directory);
    fd = open(name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, mode);
    if (fd >= 0) {
      temp->file.reset(new File{UniqueFd(fd)});
      temp->name = name;
      return 0;
    }
    if (errno != EEXIST)
      return errno;
  }
  return EEXIST;
}

SysError name_temporary(const std::string& directory, TempFile* temp) {
  if (!temp->name.empty())
    return 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = temporary_name(directory);
    int err = link_unnamed(temp->file->fd.get(), name);
    if (err == 0) {
      temp->name = name;
      return 0;
    }
    if (err != EEXIST)
      return err;
  }
  return EEXIST;
}

SysError flush_file(File& file) {
  return flush_to_disk(file.fd.get());
}

SysError close_file(FilePtr file) { return file->fd.close(); }

SysError replace_file(const std::string& from, const std::string& to) {
  return rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

void remove_file(const std::string& path) { unlink(path.c_str()); }

SysError sync_directory(const std::string& directory) {
  UniqueFd fd(open(directory_or_dot(directory).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.valid())
    return errno;
  // Some file systems cannot sync a directory and say so with EINVAL.
  int err = flush_to_disk(fd.get());
  if (err != 0 && err != EINVAL)
    return err;
  return fd.close();
}

SysError open_in_place(const std::string& path, FilePtr* file) {
  UniqueFd fd(open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC));
  if (!fd.valid())
    return errno;
  file->reset(new File{std::move(fd)});
  return 0;
}

// --- Signals ---------------------------------------------------------

namespace {

// The temporary file's name while it has one, for the signal handler.
const char* volatile g_remove_on_exit = nullptr;

void remove_and_die(int sig) {
  const char* name = g_remove_on_exit;
  if (name != nullptr)
    unlink(name);
  signal(sig, SIG_DFL);
  raise(sig);
}

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];

}  // namespace

struct ExitCleanup::Saved {
  struct sigaction actions[kSignalCount];
  sigset_t mask;  // the mask before hold()
};

ExitCleanup::ExitCleanup() : saved_(new Saved) {
  struct sigaction action {};
  action.sa_handler = remove_and_die;
  sigemptyset(&action.sa_mask);
  for (int i = 0; i < kSignalCount; ++i) {
    sigaction(kSignals[i], nullptr, &saved_->actions[i]);
    if (saved_->actions[i].sa_handler != SIG_IGN)
      sigaction(kSignals[i], &action, nullptr);
  }
}

ExitCleanup::~ExitCleanup() {
  for (int i = 0; i < kSignalCount; ++i)
    sigaction(kSignals[i], &saved_->actions[i], nullptr);
  g_remove_on_exit = nullptr;
}

void ExitCleanup::remove_on_exit(const char* path) { g_remove_on_exit = path; }

void ExitCleanup::hold() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : kSignals)
    sigaddset(&set, sig);
  sigprocmask(SIG_BLOCK, &set, &saved_->mask);
}

void ExitCleanup::release() { sigprocmask(SIG_SETMASK, &saved_->mask, nullptr); }

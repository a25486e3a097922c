// The copy's operations on POSIX systems (the data themselves are in
// data_posix.cpp). Each facility that one system has and another lacks
// stands in its own section below, its contract first, the real call and
// its stand-in side by side under one #if that CMake's feature test sets:
// unnamed files, the full flush, extended attributes.
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>
#include <vector>

#include "copy/file_ops.h"
#include "path/path.h"

#if PICKCOPY_HAVE_LINUX_XATTR || PICKCOPY_HAVE_DARWIN_XATTR
#include <sys/xattr.h>
#endif

namespace {

int fd_of(File& file) { return static_cast<int>(file.handle); }

FilePtr adopt(int fd) { return FilePtr(new File{fd}); }

std::string folder_or_dot(const std::string& folder) {
  return folder.empty() ? "." : folder;
}

SysError last_error() { return errno; }

SysError result(int rc) { return rc == 0 ? SysError() : last_error(); }

// File systems that keep no extended attributes say so with ENOTSUP: the
// file then holds none, and a new file on it loses none.
bool holds_no_attributes(SysError err) {
  return err.code == ENOTSUP || err.code == EOPNOTSUPP;
}

}  // namespace

void FileCloser::operator()(File* file) const {
  // A descriptor open only for reading, or given up after a failure: what
  // its close says cannot change the outcome. close_file() reports it
  // where it matters.
  if (file->handle >= 0)
    close(fd_of(*file));
  delete file;
}

std::string describe_error(SysError err) {
  switch (err.code) {
    case kNotRegularFile:
      return "Not a regular file";
    case kNoFacility:
      return std::strerror(EOPNOTSUPP);
    case kAttributesUnknown:
      return "its extended attributes cannot be read here";
    default:
      return std::strerror(err.code);
  }
}

// --- The rules -------------------------------------------------------

bool refuses_replace(SysError err) {
  switch (err.code) {
    case EACCES:  // no right to write the folder
    case EPERM:   // a sticky folder and someone else's file
    case EBUSY:   // the target is a mount point
    case EXDEV:   // the target is on another file system than its folder
    case EROFS:
    case EOPNOTSUPP:
#if ENOTSUP != EOPNOTSUPP
    case ENOTSUP:
#endif
      return true;
    default:
      return false;
  }
}

bool unsupported(SysError err) {
  switch (err.code) {
    case kNoFacility:
    case EOPNOTSUPP:
#if ENOTSUP != EOPNOTSUPP
    case ENOTSUP:
#endif
    case ENOTTY:  // an ioctl the file system does not know
    case EXDEV:   // not across file systems
    case EINVAL:  // not for these files, or not with these arguments
    case ENOSYS:  // not in this kernel
    case EBADF:   // not for files opened so (copy_file_range on some file systems)
    case EPERM:   // not where a sandbox or the file system forbids it
      return true;
    default:
      return false;
  }
}

bool name_taken(SysError err) { return err.code == EEXIST; }

// --- The source and the target ---------------------------------------

SysError open_source(const std::string& path, FilePtr* file, unsigned* mode) {
  // O_NONBLOCK keeps a named pipe from blocking the open.
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0)
    return last_error();
  *file = adopt(fd);
  struct stat st;
  if (fstat(fd, &st) != 0)
    return last_error();
  if (S_ISDIR(st.st_mode))
    return EISDIR;
  if (!S_ISREG(st.st_mode))
    return kNotRegularFile;
  // O_NONBLOCK does nothing to a regular file's reads, so whether clearing
  // it again succeeds cannot matter; it is cleared for tidiness.
  int flags = fcntl(fd, F_GETFL);
  if (flags >= 0)
    fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  *mode = st.st_mode & 0777;
  return {};
}

SysError follow_links(const std::string& path, std::string* real) {
  std::string at = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
      *real = at;
      return {};
    }
    std::vector<char> link(static_cast<std::size_t>(st.st_size) + PATH_MAX);
    ssize_t n = readlink(at.c_str(), link.data(), link.size());
    if (n < 0)
      return last_error();
    std::string next(link.data(), static_cast<std::size_t>(n));
    at = next[0] == '/' ? next : std::string(directory_part(at, "/")) + next;
  }
  return ELOOP;
}

SysError path_status(const std::string& path, PathStatus* status) {
  struct stat st;
  *status = PathStatus();
  if (stat(path.c_str(), &st) != 0)
    return errno == ENOENT ? SysError() : last_error();
  status->exists = true;
  status->folder = S_ISDIR(st.st_mode);
  status->regular = S_ISREG(st.st_mode);
  return {};
}

bool same_file(File& file, const std::string& path) {
  struct stat a, b;
  return fstat(fd_of(file), &a) == 0 && stat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
         a.st_ino == b.st_ino;
}

SysError check_writable(const std::string& path) {
  // The effective user's right, as an open for writing would judge it:
  // permission bits and ACLs, and root may.
  return result(faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS));
}

// --- Facility: unnamed files -----------------------------------------
// A file opened in a folder without a name (Linux's O_TMPFILE), which
// linkat(2) names later through /proc/self/fd. Without /proc (a chroot, a
// small container) there is no way to name it, so none is opened and a
// named temporary file is used from the start. Elsewhere: kNoFacility.

#if PICKCOPY_HAVE_O_TMPFILE

namespace {
constexpr const char* kOwnDescriptors = "/proc/self/fd/";
}  // namespace

SysError open_unnamed(const std::string& folder, unsigned mode, FilePtr* file) {
  if (access(kOwnDescriptors, X_OK) != 0)
    return kNoFacility;
  int fd = open(folder_or_dot(folder).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC,
                static_cast<mode_t>(mode));
  if (fd >= 0) {
    *file = adopt(fd);
    return {};
  }
  // The file system has no unnamed files (EOPNOTSUPP), or the kernel knows
  // no O_TMPFILE and took it for O_DIRECTORY (EISDIR, EINVAL).
  return errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL ? kNoFacility : last_error();
}

SysError link_unnamed(File& file, const std::string& path) {
  std::string self = kOwnDescriptors + std::to_string(fd_of(file));
  return result(linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW));
}

#else

SysError open_unnamed(const std::string&, unsigned, FilePtr*) { return kNoFacility; }

SysError link_unnamed(File&, const std::string&) { return kNoFacility; }

#endif

// --- The temporary file and the replace ------------------------------

SysError create_new(const std::string& path, unsigned mode, FilePtr* file) {
  int fd = open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, static_cast<mode_t>(mode));
  if (fd < 0)
    return last_error();
  *file = adopt(fd);
  return {};
}

// --- Facility: the full flush ----------------------------------------
// Data and metadata all the way to the disk. macOS's fsync(2) hands them
// to the drive, which may keep them in its cache; F_FULLFSYNC asks the
// drive to write them out, and where a file system refuses that, fsync is
// the best there is. Elsewhere fsync(2) does it all.

namespace {

#if PICKCOPY_HAVE_F_FULLFSYNC
SysError flush_to_disk(int fd) {
  if (fcntl(fd, F_FULLFSYNC) == 0)
    return {};
  return result(fsync(fd));
}
#else
SysError flush_to_disk(int fd) { return result(fsync(fd)); }
#endif

}  // namespace

SysError flush_file(File& file) { return flush_to_disk(fd_of(file)); }

SysError close_file(FilePtr file) {
  int fd = fd_of(*file);
  file->handle = -1;
  return result(close(fd));
}

SysError replace_file(const std::string& from, const std::string& to) {
  return result(rename(from.c_str(), to.c_str()));
}

void remove_file(const std::string& path) { unlink(path.c_str()); }

SysError sync_folder(const std::string& folder) {
  int fd = open(folder_or_dot(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0)
    return last_error();
  FilePtr opened = adopt(fd);
  // Some file systems cannot sync a folder and say so with EINVAL.
  SysError err = flush_to_disk(fd);
  if (err && err.code != EINVAL)
    return err;
  return close_file(std::move(opened));
}

SysError open_in_place(const std::string& path, FilePtr* file) {
  int fd = open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0)
    return last_error();
  *file = adopt(fd);
  return {};
}

// --- Facility: extended attributes -----------------------------------
// Names come as one string of zero-ended names. Linux's *xattr(2) calls
// carry the POSIX ACLs (system.posix_acl_*) and the security labels
// (security.*) as attributes too; macOS's take a position and options
// beyond Linux's, and keep extended ACLs apart from them, so those are not
// carried. Where pickcopy has no such calls it cannot tell what a new file
// would lose: kAttributesUnknown, and an existing target is written in
// place, which keeps everything it has.

namespace {

#if PICKCOPY_HAVE_LINUX_XATTR || PICKCOPY_HAVE_DARWIN_XATTR

// Calls `call(nullptr, 0)` for the size, then `call(buffer, size)` into
// `*out`; the size may change between the two calls, so it is asked again
// on ERANGE.
template <typename Call>
SysError read_sized(Call call, std::string* out) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    ssize_t size = call(nullptr, 0);
    if (size < 0)
      return last_error();
    out->resize(static_cast<std::size_t>(size));
    if (size == 0)
      return {};
    ssize_t n = call(&(*out)[0], out->size());
    if (n >= 0) {
      out->resize(static_cast<std::size_t>(n));
      return {};
    }
    if (errno != ERANGE)
      return last_error();
  }
  return ERANGE;
}

#endif

#if PICKCOPY_HAVE_LINUX_XATTR

SysError list_attributes(const std::string& path, std::string* names) {
  return read_sized([&](char* b, size_t n) { return listxattr(path.c_str(), b, n); }, names);
}
SysError list_attributes(int fd, std::string* names) {
  return read_sized([&](char* b, size_t n) { return flistxattr(fd, b, n); }, names);
}
SysError get_attribute(const std::string& path, const char* name, std::string* value) {
  return read_sized([&](char* b, size_t n) { return getxattr(path.c_str(), name, b, n); },
                    value);
}
SysError set_attribute(int fd, const char* name, const std::string& value) {
  return result(fsetxattr(fd, name, value.data(), value.size(), 0));
}
SysError remove_attribute(int fd, const char* name) { return result(fremovexattr(fd, name)); }

#elif PICKCOPY_HAVE_DARWIN_XATTR

SysError list_attributes(const std::string& path, std::string* names) {
  return read_sized([&](char* b, size_t n) { return listxattr(path.c_str(), b, n, 0); }, names);
}
SysError list_attributes(int fd, std::string* names) {
  return read_sized([&](char* b, size_t n) { return flistxattr(fd, b, n, 0); }, names);
}
SysError get_attribute(const std::string& path, const char* name, std::string* value) {
  return read_sized(
      [&](char* b, size_t n) { return getxattr(path.c_str(), name, b, n, 0, 0); }, value);
}
SysError set_attribute(int fd, const char* name, const std::string& value) {
  return result(fsetxattr(fd, name, value.data(), value.size(), 0, 0));
}
SysError remove_attribute(int fd, const char* name) { return result(fremovexattr(fd, name, 0)); }

#else

SysError list_attributes(const std::string&, std::string*) { return kAttributesUnknown; }
SysError list_attributes(int, std::string*) { return kAttributesUnknown; }
SysError get_attribute(const std::string&, const char*, std::string*) {
  return kAttributesUnknown;
}
SysError set_attribute(int, const char*, const std::string&) { return kAttributesUnknown; }
SysError remove_attribute(int, const char*) { return kAttributesUnknown; }

#endif

// The attributes of `path` or `fd`; none where the file system keeps none.
template <typename Where>
SysError attributes_of(Where where, std::string* names) {
  SysError err = list_attributes(where, names);
  if (holds_no_attributes(err)) {
    names->clear();
    return {};
  }
  return err;
}

// --- The identity ----------------------------------------------------

// File capabilities and integrity hashes belong to the old content: the
// kernel drops them whenever the file is written, and carrying capabilities
// over would grant their privileges to whatever was copied.
bool bound_to_content(std::string_view name) {
  return name == "security.capability" || name == "security.ima" || name == "security.evm";
}

// Calls `each` for every name of a list of zero-ended names until one
// gives an error.
template <typename Each>
SysError for_each_name(const std::string& names, Each each) {
  for (std::size_t at = 0; at < names.size(); at += std::strlen(names.c_str() + at) + 1)
    if (SysError err = each(names.c_str() + at))
      return err;
  return {};
}

bool listed(const std::string& names, std::string_view name) {
  bool found = false;
  for_each_name(names, [&](const char* each) {
    found = found || name == each;
    return SysError();
  });
  return found;
}

SysError carry_attributes(const std::string& target, int fd) {
  std::string wanted, present, value;
  if (SysError err = attributes_of(target, &wanted))
    return err;
  if (SysError err = attributes_of(fd, &present))
    return err;
  // What the new file got from its folder (an inherited ACL, say) and the
  // target does not have must go.
  SysError err = for_each_name(present, [&](const char* name) {
    return listed(wanted, name) ? SysError() : remove_attribute(fd, name);
  });
  if (err)
    return err;
  return for_each_name(wanted, [&](const char* name) {
    if (bound_to_content(name))
      return SysError();
    SysError got = get_attribute(target, name, &value);
    return got ? got : set_attribute(fd, name, value);
  });
}

}  // namespace

// Owner and group first (a change of owner clears set-ID bits), then the
// extended attributes and ACLs, then every permission bit, which is checked
// afterwards, since the system may quietly drop set-ID bits it will not
// grant.
SysError carry_identity(const std::string& target, File& out) {
  int fd = fd_of(out);
  struct stat want, have;
  if (stat(target.c_str(), &want) != 0 || fstat(fd, &have) != 0)
    return last_error();
  if ((want.st_uid != have.st_uid || want.st_gid != have.st_gid) &&
      fchown(fd, want.st_uid, want.st_gid) != 0)
    return last_error();
  if (SysError err = carry_attributes(target, fd))
    return err;
  if (fchmod(fd, want.st_mode & 07777) != 0 || fstat(fd, &have) != 0)
    return last_error();
  return (have.st_mode & 07777) == (want.st_mode & 07777) ? SysError() : SysError(EPERM);
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

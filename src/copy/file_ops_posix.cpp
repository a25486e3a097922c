// The copy's operations on POSIX systems: the rules, the target held, the
// temporary file and the replace, and the signals (the identity is in
// identity_posix.cpp, the data in data_posix.cpp). Each facility that one
// system has and another lacks stands in its own section below, its
// contract first, the real call and its stand-in side by side under one
// #if that CMake's feature test sets: holding a file without opening it,
// asking about a held file, unnamed files and the full flush.
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "copy/file_ops.h"
#include "copy/posix.h"
#include "path/path.h"

namespace {

std::string folder_or_dot(const std::string& folder) { return folder.empty() ? "." : folder; }

// O_NONBLOCK keeps an open from waiting (a named pipe, a lease); it does
// nothing to a regular file's reads and writes, so whether clearing it
// again succeeds cannot matter; it is cleared for tidiness.
void clear_nonblock(int fd) {
  int flags = fcntl(fd, F_GETFL);
  if (flags >= 0)
    fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
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
    case kTargetChanged:
      return "changed by another program during the copy; left as it is";
    case kDanglingLink:
      return "a symbolic link that leads nowhere";
    case kGuardedLink:
      return std::strerror(EACCES);
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

// A folder that is there (it is held) and yet has no such file for one
// being made in it will take no new files: /proc, /sys.
bool makes_no_files(SysError err) { return err.code == ENOENT; }

bool out_of_room(SysError err) { return err.code == ENOSPC || err.code == EDQUOT; }

bool names_no_file(SysError err) {
  return err.code == ENOENT || err.code == ENOTDIR || err.code == EISDIR || err.code == ELOOP;
}

// --- Facility: holding a file without opening it --------------------
// The target's folder and the target itself are held open from the check
// on. Linux and FreeBSD hold them with O_PATH, which needs no right to read
// them: a folder the user may search and write but not list, or a file the
// user may write but not read. Elsewhere a folder is opened for reading,
// and a file the user may not read is held open for writing instead.

namespace {

#if PICKCOPY_HAVE_O_PATH
constexpr int kHeldFolder = O_PATH | O_DIRECTORY;
constexpr int kHeldUnreadable = O_PATH | O_NOFOLLOW;
#else
constexpr int kHeldFolder = O_RDONLY | O_DIRECTORY;
constexpr int kHeldUnreadable = O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
#endif

SysError open_folder(const std::string& path, FilePtr* folder) {
  int fd = open(folder_or_dot(path).c_str(), kHeldFolder | O_CLOEXEC);
  if (fd < 0)
    return last_error();
  *folder = adopt(fd);
  return {};
}

int open_unreadable(int folder, const char* name) {
  return openat(folder, name, kHeldUnreadable | O_CLOEXEC);
}

}  // namespace

// --- Facility: asking about a held file -------------------------------
// Whether the effective user may write the held target, asked of the
// descriptor itself (AT_EMPTY_PATH). Where the kernel will not take that
// (before Linux 5.8), or the system has no such flag, the name is asked in
// the held folder, and the answer counts only if the name still leads to
// the held file.

namespace {

SysError ask_by_name(const Held& target) {
  if (faccessat(fd_of(*target.folder_file), target.name.c_str(), W_OK, AT_EACCESS) != 0)
    return last_error();
  struct stat named, held;
  if (fstatat(fd_of(*target.folder_file), target.name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
      fstat(fd_of(*target.file), &held) != 0)
    return errno == ENOENT ? SysError(kTargetChanged) : last_error();
  return same_inode(named, held) ? SysError() : SysError(kTargetChanged);
}

#if PICKCOPY_HAVE_AT_EMPTY_PATH
SysError ask_writable(const Held& target) {
  if (faccessat(fd_of(*target.file), "", W_OK, AT_EACCESS | AT_EMPTY_PATH) == 0)
    return {};
  if (errno != EINVAL && errno != ENOSYS)
    return last_error();
  return ask_by_name(target);
}
#else
SysError ask_writable(const Held& target) { return ask_by_name(target); }
#endif

}  // namespace

// --- The source and the target ---------------------------------------

namespace {

// The kernel's guard for sticky folders (Linux's fs.protected_symlinks),
// applied whatever the system's setting: in a sticky folder that others
// may write, a link is followed only where it belongs to the user or to
// the folder's owner, so that no one can lead the user's writes through a
// link planted there.
bool may_follow(const struct stat& folder, const struct stat& link) {
  bool guarded = (folder.st_mode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH);
  return !guarded || link.st_uid == geteuid() || link.st_uid == folder.st_uid;
}

// Where the link `name` in `folder` leads, as its text.
SysError read_link(int folder, const std::string& name, off_t size, std::string* text) {
  std::vector<char> link(static_cast<std::size_t>(size) + PATH_MAX);
  ssize_t n = readlinkat(folder, name.c_str(), link.data(), link.size());
  if (n < 0)
    return last_error();
  if (n == 0)
    return ENOENT;
  text->assign(link.data(), static_cast<std::size_t>(n));
  return {};
}

// Holds the existing regular file `held->name` whose status `st` was read
// in the held folder, open for reading: the open must find the same file
// there. With `unreadable_too`, a file the user may not read is held
// without reading it.
SysError hold_file(const struct stat& st, Held* held, bool unreadable_too) {
  int folder = fd_of(*held->folder_file);
  const char* name = held->name.c_str();
  int fd = openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0 && errno == EACCES && unreadable_too)
    fd = open_unreadable(folder, name);
  if (fd < 0)
    return errno == ENOENT || errno == ELOOP ? SysError(kTargetChanged) : last_error();
  held->file = adopt(fd);
  struct stat opened;
  if (fstat(fd, &opened) != 0)
    return last_error();
  return same_inode(st, opened) ? SysError() : SysError(kTargetChanged);
}

// Holds the existing folder `held->name` whose status `st` was read in the
// held folder, as a folder is held, without following a link.
SysError hold_folder(const struct stat& st, Held* held) {
  int fd =
      openat(fd_of(*held->folder_file), held->name.c_str(), kHeldFolder | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0)
    return errno == ENOENT || errno == ELOOP || errno == ENOTDIR ? SysError(kTargetChanged)
                                                                 : last_error();
  held->file = adopt(fd);
  struct stat opened;
  if (fstat(fd, &opened) != 0)
    return last_error();
  return same_inode(st, opened) ? SysError() : SysError(kTargetChanged);
}

// Cuts the separators that end `path`, and a last "." component after one
// ("dir/." names what "dir/" does), unless nothing else is left ("/", ".");
// true where there were any: the name must then be a folder.
bool cut_trailing_separators(std::string* path) {
  bool cut = false;
  for (;;) {
    std::size_t last = path->find_last_not_of('/');
    if (last == std::string::npos)
      return cut;
    if (last + 1 < path->size()) {
      path->resize(last + 1);
      cut = true;
    } else if (last > 0 && (*path)[last] == '.' && (*path)[last - 1] == '/') {
      path->resize(last);  // "dir/." names the folder as "dir/" does
    } else {
      return cut;
    }
  }
}

// What a name's last component leads to, once its links are followed.
struct Found {
  bool exists = false;
  bool folder_only = false;  // named with a trailing separator
  struct stat st {};         // while it exists
};

// Follows the symbolic links of the last component of `path`, one hop at a
// time in the held folder, each only as may_follow allows (kGuardedLink),
// and leaves `held` holding the folder of the name it ends at, with that
// name. A last component given with trailing separators ("dir/") is
// followed so too, and must be a folder. `within`, where given, is the
// folder, held already, in which `path` is a last component alone: it is
// taken as it was held, not looked up again. The folders on the way are
// resolved by the kernel, as any open resolves them. An error in reaching
// a folder is marked in_folder, with `held->folder` naming it.
SysError follow_links(std::string at, const Held* within, Held* held, Found* found) {
  bool through_link = false;
  for (int hops = 0; hops < 40; ++hops) {
    bool folder_only = cut_trailing_separators(&at) || (hops > 0 && found->folder_only);
    *found = Found();
    found->folder_only = folder_only;
    bool in_held_folder = hops == 0 && within != nullptr;
    if (in_held_folder) {
      std::string name = std::move(at);
      at = within->path;
      if (at.empty() || at.back() != '/')
        at += '/';
      at += name;
    }
    *held = Held();
    held->path = at;
    held->through_link = through_link;
    std::size_t folder_length = folder_part_length(at, PathStyle::posix);
    held->folder = at.substr(0, folder_length);
    held->name = at.substr(folder_length);
    if (held->name.empty())
      held->name = ".";  // "/" names the folder itself
    if (in_held_folder) {
      int fd = fcntl(fd_of(*within->file), F_DUPFD_CLOEXEC, 0);
      if (fd < 0)
        return last_error();
      held->folder_file = adopt(fd);
    } else if (SysError err = open_folder(held->folder, &held->folder_file)) {
      err.in_folder = true;
      return err;
    }
    int folder = fd_of(*held->folder_file);
    if (fstatat(folder, held->name.c_str(), &found->st, AT_SYMLINK_NOFOLLOW) != 0)
      return errno == ENOENT ? SysError() : last_error();
    if (!S_ISLNK(found->st.st_mode)) {
      found->exists = true;
      return {};
    }
    struct stat folder_st;
    if (fstat(folder, &folder_st) != 0)
      return last_error();
    if (!may_follow(folder_st, found->st))
      return kGuardedLink;
    std::string next;
    if (SysError err = read_link(folder, held->name, found->st.st_size, &next))
      return err;
    at = next[0] == '/' ? next : held->folder + next;
    through_link = true;
  }
  return ELOOP;
}

// Takes what follow_links found as the target, and holds it where it is a
// regular file or a folder.
SysError settle_target(const Found& found, Held* held) {
  if (!found.exists) {
    if (held->through_link)
      return kDanglingLink;
    return found.folder_only ? SysError(ENOENT) : SysError();
  }
  held->status.exists = true;
  held->status.folder = S_ISDIR(found.st.st_mode);
  held->status.regular = S_ISREG(found.st.st_mode);
  if (found.folder_only && !held->status.folder)
    return ENOTDIR;
  if (held->status.regular)
    return hold_file(found.st, held, true);
  return held->status.folder ? hold_folder(found.st, held) : SysError();
}

}  // namespace

SysError hold_target(const std::string& path, Held* held) {
  Found found;
  if (SysError err = follow_links(path, nullptr, held, &found))
    return err;
  return settle_target(found, held);
}

SysError hold_in_folder(const Held& folder, const std::string& name, Held* held) {
  Found found;
  if (SysError err = follow_links(name, &folder, held, &found))
    return err;
  held->through_link = held->through_link || folder.through_link;
  return settle_target(found, held);
}

SysError hold_source(const std::string& path, Held* held, unsigned* mode) {
  Found found;
  if (SysError err = follow_links(path, nullptr, held, &found))
    return err;
  // Anything but a regular file is refused before it is opened, in one
  // set of words: the open of a device may act on it, and that of a
  // socket fails in words of its own. O_NONBLOCK keeps a named pipe that
  // slips in from blocking the open; the open file must be the one seen.
  if (!found.exists)
    return ENOENT;
  if (S_ISDIR(found.st.st_mode))
    return EISDIR;
  if (found.folder_only)
    return ENOTDIR;
  if (!S_ISREG(found.st.st_mode))
    return kNotRegularFile;
  if (SysError err = hold_file(found.st, held, false))
    return err;
  clear_nonblock(fd_of(*held->file));
  held->status.exists = true;
  held->status.regular = true;
  if (mode != nullptr)
    *mode = found.st.st_mode & 0777;
  return {};
}

bool same_target(const Held& held, const Held& again) {
  struct stat a, b;
  if (held.name != again.name || fstat(fd_of(*held.folder_file), &a) != 0 ||
      fstat(fd_of(*again.folder_file), &b) != 0 || !same_inode(a, b))
    return false;
  if (!held.file || !again.file)
    return !held.file && !again.file && held.status.exists == again.status.exists;
  return fstat(fd_of(*held.file), &a) == 0 && fstat(fd_of(*again.file), &b) == 0 &&
         same_inode(a, b);
}

bool same_place(const Held& a, const Held& b) {
  struct stat x, y;
  return a.name == b.name && a.folder_file && b.folder_file &&
         fstat(fd_of(*a.folder_file), &x) == 0 && fstat(fd_of(*b.folder_file), &y) == 0 &&
         same_inode(x, y);
}

bool same_file(File& file, const Held& target) {
  struct stat a, b;
  return target.file && fstat(fd_of(file), &a) == 0 && fstat(fd_of(*target.file), &b) == 0 &&
         same_inode(a, b);
}

SysError check_writable(const Held& target) {
  // The effective user's right, as an open for writing would judge it:
  // permission bits and ACLs, and root may.
  return ask_writable(target);
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

SysError open_unnamed(const Held& target, unsigned mode, FilePtr* file) {
  if (access(kOwnDescriptors, X_OK) != 0)
    return kNoFacility;
  int fd = openat(fd_of(*target.folder_file), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC,
                  static_cast<mode_t>(mode));
  if (fd >= 0) {
    *file = adopt(fd);
    return {};
  }
  // The file system has no unnamed files (EOPNOTSUPP), or the kernel knows
  // no O_TMPFILE and took it for O_DIRECTORY (EISDIR, EINVAL).
  return errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL ? kNoFacility : last_error();
}

SysError link_unnamed(File& file, const Held& target, const std::string& name) {
  std::string self = kOwnDescriptors + std::to_string(fd_of(file));
  return result(
      linkat(AT_FDCWD, self.c_str(), fd_of(*target.folder_file), name.c_str(), AT_SYMLINK_FOLLOW));
}

#else

SysError open_unnamed(const Held&, unsigned, FilePtr*) { return kNoFacility; }

SysError link_unnamed(File&, const Held&, const std::string&) { return kNoFacility; }

#endif

// --- The temporary file and the replace ------------------------------

SysError create_new(const Held& target, const std::string& name, unsigned mode, FilePtr* file) {
  int fd = openat(fd_of(*target.folder_file), name.c_str(),
                  O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, static_cast<mode_t>(mode));
  if (fd < 0)
    return last_error();
  *file = adopt(fd);
  return {};
}

// A named file is named from its creation on, and removed by the signals
// that end the program; nothing marks it otherwise.
SysError keep_temporary(File&, bool) { return {}; }

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

// A file the kernel keeps (/proc, /sys) has no disk to reach, and says so
// with EINVAL, as a folder that cannot be flushed does.
SysError flush_file(File& file) {
  SysError err = flush_to_disk(fd_of(file));
  return err.code == EINVAL ? SysError() : err;
}

SysError close_file(FilePtr file) {
  int fd = fd_of(*file);
  file->handle = -1;
  return result(close(fd));
}

// A rename replaces in one step: it happens whole or not at all, and sets
// nothing aside.
// --- Facility: the rename that replaces nothing ----------------------
// A new target is renamed into place only where no file has come to have
// its name since it was checked: Linux's renameat2(2) with
// RENAME_NOREPLACE, macOS's renameatx_np(2) with RENAME_EXCL, which fail
// with EEXIST. Where a file system cannot do that (EINVAL, ENOTSUP), and
// on systems without such a call, a plain rename follows the check made
// just before it.

namespace {

#if PICKCOPY_HAVE_RENAMEAT2
int rename_new(int folder, const char* from, const char* to) {
  return renameat2(folder, from, folder, to, RENAME_NOREPLACE);
}
#elif PICKCOPY_HAVE_RENAMEATX_NP
int rename_new(int folder, const char* from, const char* to) {
  return renameatx_np(folder, from, folder, to, RENAME_EXCL);
}
#else
int rename_new(int, const char*, const char*) {
  errno = ENOSYS;
  return -1;
}
#endif

}  // namespace

SysError replace_file(const Held& target, const std::string& name, const std::string&) {
  int folder = fd_of(*target.folder_file);
  if (!target.status.exists) {
    if (rename_new(folder, name.c_str(), target.name.c_str()) == 0)
      return {};
    if (!unsupported(last_error()))  // EEXIST among them: name_taken()
      return last_error();
  }
  return result(renameat(folder, name.c_str(), folder, target.name.c_str()));
}

SysError remove_aside(const Held&, const std::string&) { return {}; }

void remove_file(const Held& target, const std::string& name) {
  unlinkat(fd_of(*target.folder_file), name.c_str(), 0);
}

SysError sync_folder(const Held& target) {
  int fd = openat(fd_of(*target.folder_file), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0)
    return last_error();
  FilePtr opened = adopt(fd);
  // Some file systems cannot flush a folder and say so with EINVAL. The
  // folder was only read: what its close says cannot matter.
  SysError err = flush_to_disk(fd);
  return err && err.code != EINVAL ? err : SysError();
}

SysError open_in_place(const Held& target, FilePtr* file) {
  int fd = openat(fd_of(*target.folder_file), target.name.c_str(),
                  O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0)
    return errno == ENOENT || errno == ELOOP ? SysError(kTargetChanged) : last_error();
  *file = adopt(fd);
  struct stat opened, held;
  if (fstat(fd, &opened) != 0 || fstat(fd_of(*target.file), &held) != 0)
    return last_error();
  if (!same_inode(opened, held))
    return kTargetChanged;
  clear_nonblock(fd);
  return {};
}

// --- Signals ---------------------------------------------------------

namespace {

// The temporary file's name while it has one, and its folder, for the
// signal handler.
const char* volatile g_remove_on_exit = nullptr;
volatile int g_remove_in = AT_FDCWD;

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];

// What each signal did before: after the removal it does that again.
const struct sigaction* volatile g_before = nullptr;

// Removes the temporary file, then has the signal act as it did before
// (end the program, or a handler of the dialogue's that then ends it).
void remove_and_die(int sig) {
  const char* name = g_remove_on_exit;
  if (name != nullptr)
    unlinkat(g_remove_in, name, 0);
  const struct sigaction* before = g_before;
  for (int i = 0; i < kSignalCount; ++i)
    if (kSignals[i] == sig && before != nullptr)
      sigaction(sig, &before[i], nullptr);
  if (before == nullptr)
    (void)signal(sig, SIG_DFL);  // SIGINT, SIGTERM and SIGHUP all take it
  (void)raise(sig);
}

}  // namespace

struct ExitCleanup::Saved {
  struct sigaction actions[kSignalCount];
  struct sigaction file_size;  // SIGXFSZ's
  sigset_t mask;               // the mask before hold()
};

ExitCleanup::ExitCleanup() : saved_(new Saved) {
  struct sigaction action {};
  action.sa_handler = remove_and_die;
  sigemptyset(&action.sa_mask);
  for (int i = 0; i < kSignalCount; ++i)
    sigaction(kSignals[i], nullptr, &saved_->actions[i]);
  g_before = saved_->actions;
  for (int i = 0; i < kSignalCount; ++i)
    if (saved_->actions[i].sa_handler != SIG_IGN)
      sigaction(kSignals[i], &action, nullptr);
  // Past a file-size limit (ulimit -f) the write fails with EFBIG and the
  // copy ends as after any failure, its temporary file removed, instead of
  // being killed with the file left behind.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGXFSZ, &ignore, &saved_->file_size);
}

ExitCleanup::~ExitCleanup() {
  for (int i = 0; i < kSignalCount; ++i)
    sigaction(kSignals[i], &saved_->actions[i], nullptr);
  sigaction(SIGXFSZ, &saved_->file_size, nullptr);
  g_remove_on_exit = nullptr;
  g_before = nullptr;
}

void ExitCleanup::remove_on_exit(const Held& target, const char* name) {
  g_remove_in = fd_of(*target.folder_file);
  g_remove_on_exit = name;
}

void ExitCleanup::hold() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : kSignals)
    sigaddset(&set, sig);
  sigprocmask(SIG_BLOCK, &set, &saved_->mask);
}

void ExitCleanup::release() { sigprocmask(SIG_SETMASK, &saved_->mask, nullptr); }

// The copy's operations on POSIX systems (the data themselves are in
// data_posix.cpp). Each facility that one system has and another lacks
// stands in its own section below, its contract first, the real call and
// its stand-in side by side under one #if that CMake's feature test sets:
// unnamed files, the full flush, extended attributes, and whose word on
// attributes counts.
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <string_view>
#include <vector>

#include "copy/file_ops.h"
#include "path/path.h"

#if PICKCOPY_HAVE_LINUX_XATTR || PICKCOPY_HAVE_DARWIN_XATTR
#include <sys/xattr.h>
#endif
#if PICKCOPY_HAVE_STATFS_MAGIC
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#elif PICKCOPY_HAVE_STATFS_TYPENAME
#include <sys/param.h>
#include <sys/mount.h>
#endif

namespace {

int fd_of(File& file) { return static_cast<int>(file.handle); }

FilePtr adopt(int fd) { return FilePtr(new File{fd}); }

std::string folder_or_dot(const std::string& folder) {
  return folder.empty() ? "." : folder;
}

SysError last_error() { return errno; }

SysError result(int rc) { return rc == 0 ? SysError() : last_error(); }

bool same_inode(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// O_NONBLOCK keeps an open from waiting (a named pipe, a lease); it does
// nothing to a regular file's reads and writes, so whether clearing it
// again succeeds cannot matter; it is cleared for tidiness.
void clear_nonblock(int fd) {
  int flags = fcntl(fd, F_GETFL);
  if (flags >= 0)
    fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
}

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

// --- Facility: holding a file without opening it --------------------
// The target's folder and the target itself are held open from the check
// on. Linux and FreeBSD hold them with O_PATH, which needs no right to read
// them: a folder the user may search and write but not list, or a file the
// user may write but not read. Elsewhere a folder is opened for reading,
// and a file the user may not read is held open for writing instead.

namespace {

#if PICKCOPY_HAVE_O_PATH

SysError open_folder(const std::string& path, FilePtr* folder) {
  int fd = open(folder_or_dot(path).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0)
    return last_error();
  *folder = adopt(fd);
  return {};
}

int open_unreadable(int folder, const char* name) {
  return openat(folder, name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
}

#else

SysError open_folder(const std::string& path, FilePtr* folder) {
  int fd = open(folder_or_dot(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0)
    return last_error();
  *folder = adopt(fd);
  return {};
}

int open_unreadable(int folder, const char* name) {
  return openat(folder, name, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
}

#endif

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

SysError open_source(const std::string& path, FilePtr* file, unsigned* mode) {
  // Anything but a regular file is refused before it is opened, in one
  // set of words: the open of a device may act on it, and that of a
  // socket fails in words of its own. O_NONBLOCK keeps a named pipe that
  // slips in from blocking the open; the open file is checked again.
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
    return S_ISDIR(st.st_mode) ? SysError(EISDIR) : SysError(kNotRegularFile);
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0)
    return last_error();
  *file = adopt(fd);
  if (fstat(fd, &st) != 0)
    return last_error();
  if (S_ISDIR(st.st_mode))
    return EISDIR;
  if (!S_ISREG(st.st_mode))
    return kNotRegularFile;
  clear_nonblock(fd);
  *mode = st.st_mode & 0777;
  return {};
}

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
// in the held folder: the open must find the same file there.
SysError hold_file(const struct stat& st, Held* held) {
  int folder = fd_of(*held->folder_file);
  const char* name = held->name.c_str();
  int fd = openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0 && errno == EACCES)
    fd = open_unreadable(folder, name);
  if (fd < 0)
    return errno == ENOENT || errno == ELOOP ? SysError(kTargetChanged) : last_error();
  held->file = adopt(fd);
  struct stat opened;
  if (fstat(fd, &opened) != 0)
    return last_error();
  return same_inode(st, opened) ? SysError() : SysError(kTargetChanged);
}

}  // namespace

SysError hold_target(const std::string& path, Held* held) {
  std::string at = path;
  bool through_link = false;
  for (int hops = 0; hops < 40; ++hops) {
    *held = Held();
    held->path = at;
    std::size_t folder_length = folder_part_length(at, PathStyle::posix);
    held->folder = at.substr(0, folder_length);
    held->name = at.substr(folder_length);
    if (held->name.empty())
      held->name = ".";  // "dir/" and "/" name the folder itself
    if (SysError err = open_folder(held->folder, &held->folder_file)) {
      err.in_folder = true;
      return err;
    }
    int folder = fd_of(*held->folder_file);
    struct stat st;
    if (fstatat(folder, held->name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT)
        return last_error();
      return through_link ? SysError(kDanglingLink) : SysError();
    }
    if (!S_ISLNK(st.st_mode)) {
      held->status.exists = true;
      held->status.folder = S_ISDIR(st.st_mode);
      held->status.regular = S_ISREG(st.st_mode);
      return held->status.regular ? hold_file(st, held) : SysError();
    }
    struct stat folder_st;
    if (fstat(folder, &folder_st) != 0)
      return last_error();
    if (!may_follow(folder_st, st))
      return kGuardedLink;
    std::string next;
    if (SysError err = read_link(folder, held->name, st.st_size, &next))
      return err;
    at = next[0] == '/' ? next : held->folder + next;
    through_link = true;
  }
  return ELOOP;
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
  return result(linkat(AT_FDCWD, self.c_str(), fd_of(*target.folder_file), name.c_str(),
                       AT_SYMLINK_FOLLOW));
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

SysError replace_file(const Held& target, const std::string& name) {
  int folder = fd_of(*target.folder_file);
  return result(renameat(folder, name.c_str(), folder, target.name.c_str()));
}

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

SysError list_attributes(int fd, std::string* names) {
  return read_sized([&](char* b, size_t n) { return flistxattr(fd, b, n); }, names);
}
SysError get_attribute(int fd, const char* name, std::string* value) {
  return read_sized([&](char* b, size_t n) { return fgetxattr(fd, name, b, n); }, value);
}
SysError set_attribute(int fd, const char* name, const std::string& value) {
  return result(fsetxattr(fd, name, value.data(), value.size(), 0));
}
SysError remove_attribute(int fd, const char* name) { return result(fremovexattr(fd, name)); }

#elif PICKCOPY_HAVE_DARWIN_XATTR

SysError list_attributes(int fd, std::string* names) {
  return read_sized([&](char* b, size_t n) { return flistxattr(fd, b, n, 0); }, names);
}
SysError get_attribute(int fd, const char* name, std::string* value) {
  return read_sized([&](char* b, size_t n) { return fgetxattr(fd, name, b, n, 0, 0); }, value);
}
SysError set_attribute(int fd, const char* name, const std::string& value) {
  return result(fsetxattr(fd, name, value.data(), value.size(), 0, 0));
}
SysError remove_attribute(int fd, const char* name) { return result(fremovexattr(fd, name, 0)); }

#else

SysError list_attributes(int, std::string*) { return kAttributesUnknown; }
SysError get_attribute(int, const char*, std::string*) { return kAttributesUnknown; }
SysError set_attribute(int, const char*, const std::string&) { return kAttributesUnknown; }
SysError remove_attribute(int, const char*) { return kAttributesUnknown; }

#endif

// --- Facility: whose word on attributes counts ------------------------
// A file system that says it keeps no extended attributes (ENOTSUP) can be
// believed where it keeps its files itself: on a disk, in memory. The
// client of a network file system says the same when it cannot reach what
// the server keeps, and the server's file may well have attributes and an
// ACL (sshfs over SFTP; NFS and SMB where the server does not offer them).
// So do FUSE file systems, which may be networks, but for those on a block
// device (fuseblk). Linux: statfs(2)'s f_type, and for FUSE its type in
// /proc/self/mountinfo; BSD and macOS: statfs(2)'s f_fstypename.
// Elsewhere no file system's word counts.

#if PICKCOPY_HAVE_STATFS_MAGIC

bool network_file_system(unsigned long type) {
  switch (type) {
    case 0x6969:      // NFS
    case 0x517B:      // SMB
    case 0xFF534D42:  // CIFS
    case 0xFE534D42:  // SMB2
    case 0x01021997:  // 9P
    case 0x00C36400:  // Ceph
    case 0x5346414F:  // AFS
    case 0x6B414653:  // kAFS
    case 0x73757245:  // Coda
    case 0x0BD00BD0:  // Lustre
    case 0x47504653:  // GPFS
      return true;
    default:
      return false;
  }
}

// The type the mount table gives the mount of device `device` ("fuseblk",
// "fuse.sshfs"); empty where it cannot be read.
std::string mount_type(dev_t device) {
  std::FILE* table = std::fopen("/proc/self/mountinfo", "re");
  if (table == nullptr)
    return {};
  std::string wanted = std::to_string(major(device)) + ":" + std::to_string(minor(device));
  std::string type;
  char line[4096];
  // Each line: id, parent, major:minor, root, mount point, options,
  // optional fields, "-", type, source, options.
  while (type.empty() && std::fgets(line, sizeof line, table) != nullptr) {
    char id[32], parent[32], numbers[32];
    if (std::sscanf(line, "%31s %31s %31s", id, parent, numbers) != 3 || wanted != numbers)
      continue;
    const char* dash = std::strstr(line, " - ");
    char found[256];
    if (dash != nullptr && std::sscanf(dash + 3, "%255s", found) == 1)
      type = found;
  }
  std::fclose(table);
  return type;
}

bool believed_on_attributes(int fd) {
  struct statfs fs;
  struct stat st;
  if (fstatfs(fd, &fs) != 0)
    return false;
  auto type = static_cast<unsigned long>(fs.f_type) & 0xFFFFFFFFu;
  if (network_file_system(type))
    return false;
  if (type != 0x65735546)  // FUSE
    return true;
  return fstat(fd, &st) == 0 && mount_type(st.st_dev) == "fuseblk";
}

#elif PICKCOPY_HAVE_STATFS_TYPENAME

bool believed_on_attributes(int fd) {
  struct statfs fs;
  if (fstatfs(fd, &fs) != 0)
    return false;
  std::string_view type = fs.f_fstypename;
  for (std::string_view network : {"nfs", "smbfs", "afpfs", "webdav", "cifs", "ftp"})
    if (type == network)
      return false;
  return type.find("fuse") == std::string_view::npos;  // fusefs, macfuse, osxfuse
}

#else

bool believed_on_attributes(int) { return false; }

#endif

// --- The identity ----------------------------------------------------

// Extended attributes by name, with their values.
using Attributes = std::map<std::string, std::string>;

// File capabilities and integrity hashes belong to the old content: the
// kernel drops them whenever the file is written, and carrying capabilities
// over would grant their privileges to whatever was copied.
bool bound_to_content(std::string_view name) {
  return name == "security.capability" || name == "security.ima" || name == "security.evm";
}

// The attributes of the file open as `fd` that a copy carries: all but
// those bound to the content. A file system that keeps none gives none;
// where its word does not count, kAttributesUnknown.
SysError attributes_of(int fd, Attributes* out) {
  std::string names;
  out->clear();
  SysError err = list_attributes(fd, &names);
  if (holds_no_attributes(err))
    return believed_on_attributes(fd) ? SysError() : SysError(kAttributesUnknown);
  if (err)
    return err;
  for (std::size_t at = 0; at < names.size(); at += std::strlen(names.c_str() + at) + 1) {
    const char* name = names.c_str() + at;
    if (bound_to_content(name))
      continue;
    if ((err = get_attribute(fd, name, &(*out)[name])))
      return err;
  }
  return {};
}

// Makes the attributes of `fd` those `wanted`, changing only what differs:
// what the new file got from its folder (an inherited ACL, say) and the
// target does not have goes. The first error, having tried all.
SysError carry_attributes(const Attributes& wanted, int fd) {
  Attributes present;
  if (SysError err = attributes_of(fd, &present))
    return err;
  SysError first;
  for (const auto& [name, value] : present)
    if (wanted.count(name) == 0)
      if (SysError err = remove_attribute(fd, name.c_str()); err && !first)
        first = err;
  for (const auto& [name, value] : wanted) {
    auto have = present.find(name);
    if (have == present.end() || have->second != value)
      if (SysError err = set_attribute(fd, name.c_str(), value); err && !first)
        first = err;
  }
  return first;
}

bool same_owner(const struct stat& a, const struct stat& b) {
  return a.st_uid == b.st_uid && a.st_gid == b.st_gid;
}

bool same_bits(const struct stat& a, const struct stat& b) {
  return (a.st_mode & 07777) == (b.st_mode & 07777);
}

}  // namespace

// Owner and group first (a change of owner clears set-ID bits), then the
// extended attributes and ACLs, then the permission bits, each only where
// the new file does not have it already (some file systems refuse any
// change: exFAT, which gives every file the same owner and bits). The
// identity counts as carried when the new file ends up with what the
// target has, whatever a call said on the way; the bits are checked in any
// case, since the system may quietly drop set-ID bits it will not grant.
SysError carry_identity(const Held& target, File& out) {
  int fd = fd_of(out);
  int from = fd_of(*target.file);
  struct stat want, have;
  Attributes wanted;
  if (fstat(from, &want) != 0 || fstat(fd, &have) != 0)
    return last_error();
  if (SysError err = attributes_of(from, &wanted))
    return err;
  SysError first;
  if (!same_owner(want, have) && fchown(fd, want.st_uid, want.st_gid) != 0)
    first = last_error();
  if (SysError err = carry_attributes(wanted, fd); err && !first)
    first = err;
  if (fstat(fd, &have) != 0)
    return last_error();
  if (!same_bits(want, have) && fchmod(fd, want.st_mode & 07777) != 0 && !first)
    first = last_error();
  if (fstat(fd, &have) != 0)
    return last_error();
  if (!same_owner(want, have) || !same_bits(want, have))
    return first ? first : SysError(EPERM);
  if (!first)
    return {};
  Attributes got;
  SysError err = attributes_of(fd, &got);
  return !err && got == wanted ? SysError() : first;
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
    signal(sig, SIG_DFL);
  raise(sig);
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

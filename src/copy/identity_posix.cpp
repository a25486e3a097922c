// The target's identity on POSIX systems, carried onto the new file:
// owner, group, permission bits, and the extended attributes and ACLs.
// Each facility that one system has and another lacks stands in its own
// section below, its contract first, the real call and its stand-in side
// by side under one #if that CMake's feature test sets: extended
// attributes, whose word on attributes counts, access lists that the
// permission bits do not show, and file flags.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <string_view>

#include "copy/file_ops.h"
#include "copy/posix.h"

#if PICKCOPY_HAVE_LINUX_XATTR || PICKCOPY_HAVE_DARWIN_XATTR
#include <sys/xattr.h>
#endif
#if PICKCOPY_HAVE_INODE_FLAGS
#include <linux/fs.h>
#include <sys/ioctl.h>
#endif
#if PICKCOPY_HAVE_ACL_EXTENDED || PICKCOPY_HAVE_ACL_NFS4
#include <sys/types.h>  // before sys/acl.h, which needs it

#include <sys/acl.h>
#endif
#if PICKCOPY_HAVE_STATFS_MAGIC
#include <linux/magic.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#elif PICKCOPY_HAVE_STATFS_TYPENAME
#include <sys/param.h>  // before sys/mount.h, which needs it

#include <sys/mount.h>
#endif

namespace {

// File systems that keep no extended attributes say so with ENOTSUP: the
// file then holds none, and a new file on it loses none.
bool holds_no_attributes(SysError err) { return err.code == ENOTSUP || err.code == EOPNOTSUPP; }

}  // namespace

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

// File systems outside the kernel's own headers.
constexpr unsigned long kLustreMagic = 0x0BD00BD0;
constexpr unsigned long kGpfsMagic = 0x47504653;

bool network_file_system(unsigned long type) {
  switch (type) {
    case NFS_SUPER_MAGIC:
    case SMB_SUPER_MAGIC:
    case CIFS_SUPER_MAGIC:
    case SMB2_SUPER_MAGIC:
    case V9FS_MAGIC:
    case CEPH_SUPER_MAGIC:
    case AFS_SUPER_MAGIC:
    case AFS_FS_MAGIC:
    case CODA_SUPER_MAGIC:
    case kLustreMagic:
    case kGpfsMagic:
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
  (void)std::fclose(table);  // only read
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
  if (type != FUSE_SUPER_MAGIC)
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

// --- Facility: access lists that the bits do not show ----------------
// Whether an access list on the folder open as `fd` may let a user write it
// whom its permission bits do not show. A POSIX ACL shows in the bits: its
// mask bounds what every named user and group may do, and the group bits
// say what the mask is, so a folder whose group bits deny writing has no
// entry that grants it. Other kinds do not show: NFSv4 ACLs and their like
// (Linux's system.nfs4_acl, FreeBSD's NFSv4 ACLs where they say more than
// the bits), and macOS's extended ACLs, any of which counts here. Where the
// folder cannot be read to tell, or the system has no way to, one may.

namespace {

// The held folder, opened again to be read: a folder is held by path alone
// on Linux and FreeBSD, and no list can be read through such a descriptor.
int open_to_read(int folder) {
  return openat(folder, ".", O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
}

#if PICKCOPY_HAVE_LINUX_XATTR

bool list_beyond_bits(int folder) {
  int fd = open_to_read(folder);
  if (fd < 0)
    return true;
  FilePtr opened = adopt(fd);
  std::string names;
  SysError err = list_attributes(fd, &names);
  if (holds_no_attributes(err))
    return false;
  if (err)
    return true;
  for (std::size_t at = 0; at < names.size(); at += std::strlen(names.c_str() + at) + 1) {
    std::string_view name = names.c_str() + at;
    bool posix_acl = name == "system.posix_acl_access" || name == "system.posix_acl_default";
    if (name.substr(0, 7) == "system." && name.find("acl") != name.npos && !posix_acl)
      return true;
  }
  return false;
}

#elif PICKCOPY_HAVE_ACL_EXTENDED

bool list_beyond_bits(int folder) {
  int fd = open_to_read(folder);
  if (fd < 0)
    return true;
  FilePtr opened = adopt(fd);
  acl_t acl = acl_get_fd_np(fd, ACL_TYPE_EXTENDED);
  if (acl == nullptr)
    return errno != ENOENT;  // ENOENT: the folder has none
  (void)acl_free(acl);       // only read
  return true;
}

#elif PICKCOPY_HAVE_ACL_NFS4

bool list_beyond_bits(int folder) {
  int fd = open_to_read(folder);
  if (fd < 0)
    return true;
  FilePtr opened = adopt(fd);
  acl_t acl = acl_get_fd_np(fd, ACL_TYPE_NFS4);
  if (acl == nullptr)
    return errno != EINVAL && errno != EOPNOTSUPP;  // no NFSv4 ACLs on this file system
  int trivial = 0;
  bool beyond = acl_is_trivial_np(acl, &trivial) != 0 || trivial == 0;
  (void)acl_free(acl);  // only read
  return beyond;
}

#else

bool list_beyond_bits(int) { return true; }

#endif

}  // namespace

// --- Facility: file flags --------------------------------------------
// The flags a user sets on a file beside its bits, which a new file does not
// have by itself. Linux's inode flags (chattr(1)), with FS_IOC_GETFLAGS and
// FS_IOC_SETFLAGS, which take an int whatever size their number encodes:
// synchronous (S), no dump (d), no access time (A), no copy-on-write (C)
// and compression (c); and the project ID, with FS_IOC_FSGETXATTR and
// FS_IOC_FSSETXATTR. The BSDs' and macOS's flags, with fchflags(2): no dump
// and hidden. No others: the file system sets some itself (ext4's extents
// and inline data), immutable and append-only would stop the rename (and a
// target that has them is refused, as one the user may not write), and
// macOS's compressed is no new file's to take. A file system that keeps no
// flags gives none; elsewhere there are none.
//
// give_flags(fd, want, stage) makes those flags of the new file open as
// `fd` that `stage` sets the target's `want`, and reads them back, since a
// file system may ignore a flag without a word (btrfs a no-copy-on-write
// on a file that holds data). Where the file does not end up with them: an
// error, and the target is written in place.

namespace {

enum class Stage {
  before_data,  // the file is still empty
  after_data,
};

#if PICKCOPY_HAVE_INODE_FLAGS

struct Flags {
  int flags = 0;  // all of them, the file system's own included
  std::uint32_t project = 0;
};

// Set while the file is empty: btrfs takes no-copy-on-write only then, and
// compression applies to what is written after. The others after the data,
// or every write of them would wait for the disk: those the file took from
// its folder go at once, and come back after the data where the target
// has them.
constexpr int kBeforeData = FS_NOCOW_FL | FS_COMPR_FL;
constexpr int kCarriedFlags = kBeforeData | FS_SYNC_FL | FS_NODUMP_FL | FS_NOATIME_FL;

// A file system without flags, or without project IDs, says so.
bool keeps_no_flags(int code) {
  return code == ENOTTY || code == EOPNOTSUPP || code == ENOTSUP || code == EINVAL ||
         code == ENOSYS;
}

SysError flags_of(int fd, Flags* out) {
  *out = Flags();
  if (ioctl(fd, FS_IOC_GETFLAGS, &out->flags) != 0) {
    out->flags = 0;
    if (!keeps_no_flags(errno))
      return last_error();
  }
  struct fsxattr attributes {};
  if (ioctl(fd, FS_IOC_FSGETXATTR, &attributes) == 0)
    out->project = attributes.fsx_projid;
  else if (!keeps_no_flags(errno))
    return last_error();
  return {};
}

SysError give_flags(int fd, const Flags& want, Stage stage) {
  Flags have;
  if (SysError err = flags_of(fd, &have))
    return err;
  int carried = want.flags & (stage == Stage::before_data ? kBeforeData : kCarriedFlags);
  int flags = (have.flags & ~kCarriedFlags) | carried;
  if (flags == have.flags && have.project == want.project)
    return {};
  if (flags != have.flags && ioctl(fd, FS_IOC_SETFLAGS, &flags) != 0)
    return last_error();
  if (have.project != want.project) {
    struct fsxattr attributes {};
    if (ioctl(fd, FS_IOC_FSGETXATTR, &attributes) != 0)
      return last_error();
    attributes.fsx_projid = want.project;
    if (ioctl(fd, FS_IOC_FSSETXATTR, &attributes) != 0)
      return last_error();
  }
  if (SysError err = flags_of(fd, &have))
    return err;
  bool taken = (have.flags & kCarriedFlags) == carried && have.project == want.project;
  return taken ? SysError() : SysError(EOPNOTSUPP);
}

#elif PICKCOPY_HAVE_FCHFLAGS

struct Flags {
  std::uint32_t flags = 0;
};

constexpr std::uint32_t kCarriedFlags = UF_NODUMP | UF_HIDDEN;

SysError flags_of(int fd, Flags* out) {
  struct stat st;
  if (fstat(fd, &st) != 0)
    return last_error();
  out->flags = st.st_flags;
  return {};
}

SysError give_flags(int fd, const Flags& want, Stage stage) {
  Flags have;
  if (stage == Stage::before_data)
    return {};  // none waits for the data
  if (SysError err = flags_of(fd, &have))
    return err;
  std::uint32_t flags = (have.flags & ~kCarriedFlags) | (want.flags & kCarriedFlags);
  if (flags == have.flags)
    return {};
  if (fchflags(fd, flags) != 0)
    return last_error();
  if (SysError err = flags_of(fd, &have))
    return err;
  return (have.flags & kCarriedFlags) == (want.flags & kCarriedFlags) ? SysError()
                                                                      : SysError(EOPNOTSUPP);
}

#else

struct Flags {};

SysError flags_of(int, Flags*) { return {}; }
SysError give_flags(int, const Flags&, Stage) { return {}; }

#endif

}  // namespace

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

bool same_bits(const struct stat& a, mode_t bits) { return (a.st_mode & 07777) == bits; }

constexpr mode_t kSetId = S_ISUID | S_ISGID;

// Whether the set-user-ID and set-group-ID bits of the held target, whose
// status is `file`, may pass to the content that replaces it: only where no
// one but root and the file's owner can have put the file under its name
// or chosen what goes there. So the name was given as it is, not reached
// through a symbolic link, the file has no other link, and its folder
// belongs to root or to the file's owner and no one else may write it: not
// its group, not others (by the bits), and no access list. Anywhere else a
// name another user may have planted, a hard or symbolic link to
// someone's set-user-ID program, say, would make the copy give that
// program's privileges to the chosen content.
bool keeps_set_id(const Held& target, const struct stat& file) {
  struct stat folder;
  int folder_fd = fd_of(*target.folder_file);
  if (target.through_link || file.st_nlink != 1 || fstat(folder_fd, &folder) != 0)
    return false;
  if (folder.st_uid != 0 && folder.st_uid != file.st_uid)
    return false;
  return (folder.st_mode & (S_IWGRP | S_IWOTH)) == 0 && !list_beyond_bits(folder_fd);
}

// The permission bits the content that replaces the held target gets: the
// target's, less set-user-ID and set-group-ID where it may not keep them.
mode_t bits_for_new_content(const Held& target, const struct stat& file) {
  mode_t bits = file.st_mode & 07777;
  return (bits & kSetId) != 0 && !keeps_set_id(target, file) ? bits & ~kSetId : bits;
}

}  // namespace

// Owner and group first (a change of owner clears set-ID bits), then the
// extended attributes and ACLs, then the permission bits, each only where
// the new file does not have it already (some file systems refuse any
// change: exFAT, which gives every file the same owner and bits). The
// identity counts as carried when the new file ends up with what the
// target has, whatever a call said on the way, set-ID bits it may not keep
// apart; the bits are checked in any case, since the system may quietly
// drop set-ID bits it will not grant.
SysError carry_identity(const Held& target, File& out) {
  int fd = fd_of(out);
  int from = fd_of(*target.file);
  struct stat want, have;
  Attributes wanted;
  if (fstat(from, &want) != 0 || fstat(fd, &have) != 0)
    return last_error();
  if (SysError err = attributes_of(from, &wanted))
    return err;
  // The flags first, while the new file is the user's own to change.
  Flags flags;
  if (SysError err = flags_of(from, &flags))
    return err;
  if (SysError err = give_flags(fd, flags, Stage::after_data))
    return err;
  const mode_t bits = bits_for_new_content(target, want);
  SysError first;
  if (!same_owner(want, have) && fchown(fd, want.st_uid, want.st_gid) != 0)
    first = last_error();
  if (SysError err = carry_attributes(wanted, fd); err && !first)
    first = err;
  if (fstat(fd, &have) != 0)
    return last_error();
  if (!same_bits(have, bits) && fchmod(fd, bits) != 0 && !first)
    first = last_error();
  if (fstat(fd, &have) != 0)
    return last_error();
  if (!same_owner(want, have) || !same_bits(have, bits))
    return first ? first : SysError(EPERM);
  if (!first)
    return {};
  Attributes got;
  SysError err = attributes_of(fd, &got);
  return !err && got == wanted ? SysError() : first;
}

SysError ready_new_file(const Held& target, File& out) {
  Flags flags;
  if (SysError err = flags_of(fd_of(*target.file), &flags))
    return err;
  return give_flags(fd_of(out), flags, Stage::before_data);
}

// The system clears the set-ID bits of a file that one who may not keep
// them writes; root may, and would otherwise leave a set-ID program with
// content its owner never chose wherever the rule of keeps_set_id says no.
// So they go first, before a byte is written: cleared after the data, the
// new content would run with them for a while. One who may not change the
// bits (not the owner, not root) is one the system clears them for.
SysError ready_in_place(const Held& target, File& out) {
  struct stat file;
  if (fstat(fd_of(out), &file) != 0)
    return last_error();
  mode_t bits = bits_for_new_content(target, file);
  if (same_bits(file, bits) || fchmod(fd_of(out), bits) == 0 || errno == EPERM)
    return {};
  return last_error();
}

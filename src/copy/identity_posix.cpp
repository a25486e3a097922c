// The target's identity on POSIX systems, carried onto the new file:
// owner, group, permission bits, and the extended attributes and ACLs.
// Each facility that one system has and another lacks stands in its own
// section below, its contract first, the real call and its stand-in side
// by side under one #if that CMake's feature test sets: extended
// attributes, and whose word on attributes counts.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

// Carrying an existing target's identity to its replacement on POSIX
// systems: owner and group first (a change of owner clears set-ID bits),
// then the extended attributes and ACLs, then every permission bit, which
// is checked afterwards, since the system may quietly drop set-ID bits it
// will not grant.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "copy/file_posix.h"

namespace {

// File capabilities and integrity hashes belong to the old content: the
// kernel drops them whenever the file is written, and carrying capabilities
// over would grant their privileges to whatever was copied.
bool bound_to_content(std::string_view name) {
  return name == "security.capability" || name == "security.ima" || name == "security.evm";
}

bool listed(const std::string& names, std::string_view name) {
  for (std::size_t at = 0; at < names.size(); at += std::strlen(names.c_str() + at) + 1)
    if (name == names.c_str() + at)
      return true;
  return false;
}

int carry_attributes(const std::string& target, int fd) {
  std::string wanted, present, value;
  if (int err = list_attributes(target, &wanted))
    return err;
  if (int err = list_attributes(fd, &present))
    return err;
  // What the new file got from its folder (an inherited ACL, say) and the
  // target does not have must go.
  for (std::size_t at = 0; at < present.size(); at += std::strlen(present.c_str() + at) + 1) {
    const char* name = present.c_str() + at;
    if (!listed(wanted, name))
      if (int err = remove_attribute(fd, name))
        return err;
  }
  for (std::size_t at = 0; at < wanted.size(); at += std::strlen(wanted.c_str() + at) + 1) {
    const char* name = wanted.c_str() + at;
    if (bound_to_content(name))
      continue;
    if (int err = get_attribute(target, name, &value))
      return err;
    if (int err = set_attribute(fd, name, value))
      return err;
  }
  return 0;
}

}  // namespace

SysError carry_identity(const std::string& target, File& out) {
  int fd = out.fd.get();
  struct stat want, have;
  if (stat(target.c_str(), &want) != 0 || fstat(fd, &have) != 0)
    return errno;
  if ((want.st_uid != have.st_uid || want.st_gid != have.st_gid) &&
      fchown(fd, want.st_uid, want.st_gid) != 0)
    return errno;
  if (int err = carry_attributes(target, fd))
    return err;
  if (fchmod(fd, want.st_mode & 07777) != 0 || fstat(fd, &have) != 0)
    return errno;
  return (have.st_mode & 07777) == (want.st_mode & 07777) ? 0 : EPERM;
}

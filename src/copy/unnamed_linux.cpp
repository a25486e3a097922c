// Unnamed temporary files with O_TMPFILE; the name comes with linkat(2).
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "copy/file_posix.h"

namespace {

constexpr const char* kOwnDescriptors = "/proc/self/fd/";

}  // namespace

int open_unnamed(const std::string& directory, mode_t mode) {
  // The file is named through /proc; without /proc (a chroot, a small
  // container) a named temporary file is used from the start.
  if (access(kOwnDescriptors, X_OK) != 0) {
    errno = EOPNOTSUPP;
    return -1;
  }
  return open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
}

int link_unnamed(int fd, const std::string& path) {
  std::string self = kOwnDescriptors + std::to_string(fd);
  return linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0
             ? 0
             : errno;
}

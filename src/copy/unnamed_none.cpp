// Systems without unnamed temporary files: a named one is used instead.
#include <cerrno>
#include <string>

#include "copy/file_posix.h"

int open_unnamed(const std::string&, mode_t) {
  errno = EOPNOTSUPP;
  return -1;
}

int link_unnamed(int, const std::string&) { return EOPNOTSUPP; }

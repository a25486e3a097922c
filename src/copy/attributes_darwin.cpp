// Extended attributes with macOS's *xattr(2) calls, which take a position
// and options beyond Linux's. macOS keeps extended ACLs apart from these
// attributes, so they are not carried. Written from the manuals; not run on
// this project's machines.
#include <sys/xattr.h>

#include "copy/file_posix.h"
#include "copy/sized_read.h"

int list_attributes(const std::string& path, std::string* names) {
  return read_sized([&](char* b, size_t n) { return listxattr(path.c_str(), b, n, 0); },
                    names);
}

int list_attributes(int fd, std::string* names) {
  return read_sized([&](char* b, size_t n) { return flistxattr(fd, b, n, 0); }, names);
}

int get_attribute(const std::string& path, const char* name, std::string* value) {
  return read_sized(
      [&](char* b, size_t n) { return getxattr(path.c_str(), name, b, n, 0, 0); }, value);
}

int set_attribute(int fd, const char* name, const std::string& value) {
  return fsetxattr(fd, name, value.data(), value.size(), 0, 0) == 0 ? 0 : errno;
}

int remove_attribute(int fd, const char* name) {
  return fremovexattr(fd, name, 0) == 0 ? 0 : errno;
}

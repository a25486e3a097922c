// Extended attributes with Linux's *xattr(2) calls. POSIX ACLs are the
// attributes system.posix_acl_access and system.posix_acl_default, and
// security labels are security.* attributes, so carrying the attributes
// carries them.
#include <sys/xattr.h>

#include "copy/file_posix.h"
#include "copy/sized_read.h"

int list_attributes(const std::string& path, std::string* names) {
  return read_sized([&](char* b, size_t n) { return listxattr(path.c_str(), b, n); }, names);
}

int list_attributes(int fd, std::string* names) {
  return read_sized([&](char* b, size_t n) { return flistxattr(fd, b, n); }, names);
}

int get_attribute(const std::string& path, const char* name, std::string* value) {
  return read_sized([&](char* b, size_t n) { return getxattr(path.c_str(), name, b, n); },
                    value);
}

int set_attribute(int fd, const char* name, const std::string& value) {
  return fsetxattr(fd, name, value.data(), value.size(), 0) == 0 ? 0 : errno;
}

int remove_attribute(int fd, const char* name) {
  return fremovexattr(fd, name) == 0 ? 0 : errno;
}

// Extended attributes with Linux's *xattr(2) calls. POSIX ACLs are the
// attributes system.posix_acl_access and system.posix_acl_default, so
// carrying the attributes carries them.
#include <sys/xattr.h>

#include <cerrno>

#include "copy/file_posix.h"

namespace {

// Calls `size_of(nullptr, 0)` for the size, then fills `*out`; the size may
// change between the two calls, so it is asked again on ERANGE.
template <typename Call>
int read_sized(Call call, std::string* out) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    ssize_t size = call(nullptr, 0);
    if (size < 0)
      return errno == ENOTSUP ? (out->clear(), 0) : errno;
    out->resize(static_cast<std::size_t>(size));
    if (size == 0)
      return 0;
    ssize_t n = call(&(*out)[0], out->size());
    if (n >= 0) {
      out->resize(static_cast<std::size_t>(n));
      return 0;
    }
    if (errno != ERANGE)
      return errno;
  }
  return ERANGE;
}

}  // namespace

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

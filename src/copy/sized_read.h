// Reading a value whose size is asked for first, as the extended
// attribute calls deliver names and values.
#ifndef PICKCOPY_COPY_SIZED_READ_H_
#define PICKCOPY_COPY_SIZED_READ_H_

#include <sys/types.h>

#include <cerrno>
#include <string>

// Calls `call(nullptr, 0)` for the size, then `call(buffer, size)` into
// `*out`; the size may change between the two calls, so it is asked again
// on ERANGE. A file system without attributes (ENOTSUP) has none. Returns
// 0 or an errno value.
template <typename Call>
int read_sized(Call call, std::string* out) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    ssize_t size = call(nullptr, 0);
    if (size < 0) {
      out->clear();
      return errno == ENOTSUP ? 0 : errno;
    }
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

#endif  // PICKCOPY_COPY_SIZED_READ_H_

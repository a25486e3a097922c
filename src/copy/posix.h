// What the POSIX parts of the copy share: descriptors inside File, errors
// from errno, and the identity of a file as fstat(2) tells it. Private to
// file_ops_posix.cpp, identity_posix.cpp and data_posix.cpp.
#ifndef PICKCOPY_COPY_POSIX_H_
#define PICKCOPY_COPY_POSIX_H_

#include <sys/stat.h>

#include <cerrno>

#include "copy/file_ops.h"

inline int fd_of(File& file) { return static_cast<int>(file.handle); }

// Owns `fd` from now on.
inline FilePtr adopt(int fd) { return FilePtr(new File{fd}); }

inline SysError last_error() { return errno; }

// errno, marked as the source's.
inline SysError source_error() {
  SysError err = last_error();
  err.in_source = true;
  return err;
}

// A call's return of 0 or -1, as an error.
inline SysError result(int rc) { return rc == 0 ? SysError() : last_error(); }

inline bool same_inode(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

#endif  // PICKCOPY_COPY_POSIX_H_

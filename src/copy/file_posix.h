// The POSIX side of file_ops.h: a File is a descriptor, and the helpers
// below are what the facilities of one system or another come down to,
// each with a stand-in for systems without them (CMake tests for each).
#ifndef PICKCOPY_COPY_FILE_POSIX_H_
#define PICKCOPY_COPY_FILE_POSIX_H_

#include <sys/types.h>

#include <string>

#include "copy/file_ops.h"
#include "support/unique_fd.h"

struct File {
  UniqueFd fd;
};

// An unnamed temporary file in `directory`: a descriptor, or -1 with errno
// EOPNOTSUPP where the system or the file system has none.
int open_unnamed(const std::string& directory, mode_t mode);

// Gives the unnamed file `fd` the name `path`; 0 or an errno value.
int link_unnamed(int fd, const std::string& path);

// Copies all of `in` to the empty file `out` in one call where the system
// has one (a reflink clone sharing the blocks, or the system's own copy);
// 0 or an errno value, EOPNOTSUPP where there is none for these files.
int copy_whole_file(int in, int out);

// Copies up to `length` bytes at `*in_offset` to `*out_offset` inside the
// kernel, advancing both; as copy_file_range(2), -1 with ENOSYS where the
// system has no such call.
ssize_t copy_in_kernel(int in, off_t* in_offset, int out, off_t* out_offset, size_t length);

// Frees the blocks of `length` bytes at `offset` of `fd`, which then read
// as zeros; 0 or an errno value, EOPNOTSUPP where that is not possible.
int punch_hole(int fd, off_t offset, off_t length);

// Flushes the file's data and metadata all the way to the disk; 0 or an
// errno value.
int flush_to_disk(int fd);

// Extended attributes (ACLs included, which the system keeps as such).
// Names come as one string of zero-ended names. 0 or an errno value;
// ENOTSUP where pickcopy cannot reach them on this system.
int list_attributes(const std::string& path, std::string* names);
int list_attributes(int fd, std::string* names);
int get_attribute(const std::string& path, const char* name, std::string* value);
int set_attribute(int fd, const char* name, const std::string& value);
int remove_attribute(int fd, const char* name);

#endif  // PICKCOPY_COPY_FILE_POSIX_H_

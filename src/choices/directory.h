// Reading a directory's entry names one at a time, in its own order.
#ifndef PICKCOPY_CHOICES_DIRECTORY_H_
#define PICKCOPY_CHOICES_DIRECTORY_H_

#include <memory>
#include <string>

struct Directory;
struct DirectoryCloser {
  void operator()(Directory* directory) const;
};
using DirectoryPtr = std::unique_ptr<Directory, DirectoryCloser>;

// Opens the directory `path`; null on failure, with errno set.
DirectoryPtr open_directory(const std::string& path);

// The next entry's name, valid until the next call; null at the end.
const char* next_entry(Directory& directory);

#endif  // PICKCOPY_CHOICES_DIRECTORY_H_

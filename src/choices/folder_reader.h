// Reading a folder's entry names one at a time, in its own order.
#ifndef PICKCOPY_CHOICES_FOLDER_READER_H_
#define PICKCOPY_CHOICES_FOLDER_READER_H_

#include <memory>
#include <string>

struct FolderReader;
struct FolderReaderCloser {
  void operator()(FolderReader* reader) const;
};
using FolderReaderPtr = std::unique_ptr<FolderReader, FolderReaderCloser>;

// Opens the folder `path`; null on failure, with errno set.
FolderReaderPtr open_folder(const std::string& path);

// The next entry's name, valid until the next call; null at the end.
const char* next_entry(FolderReader& reader);

#endif  // PICKCOPY_CHOICES_FOLDER_READER_H_

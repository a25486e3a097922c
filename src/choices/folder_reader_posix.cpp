// Reading a folder's entry names on POSIX systems.
//
// Facility: reading entries in small batches. readdir(3) asks the kernel for
// 32 KiB of entries at a time, about a thousand; a pattern needs only its
// first 25 names, so where Linux's getdents64(2) is there the first read
// is small and later ones grow, which in a folder of a million entries
// halves the time to the menu. Elsewhere opendir(3) and readdir(3).
//
// A read that fails ends the listing as its end does: the search delivers
// what it could read, as the platform's own folder search does.
#include <dirent.h>

#include "choices/folder_reader.h"

#if PICKCOPY_HAVE_GETDENTS64

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <vector>

namespace {

constexpr std::size_t kFirstRead = 2048;
constexpr std::size_t kLargestRead = 32768;

}  // namespace

struct FolderReader {
  int fd;
  std::vector<char> buffer;
  std::size_t next = 0;
  std::size_t size = 0;
};

void FolderReaderCloser::operator()(FolderReader* reader) const {
  close(reader->fd);
  delete reader;
}

FolderReaderPtr open_folder(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0)
    return nullptr;
  FolderReaderPtr reader(new FolderReader{fd, {}});
  reader->buffer.reserve(kLargestRead);
  return reader;
}

const char* next_entry(FolderReader& reader) {
  if (reader.next >= reader.size) {
    std::size_t want =
        reader.buffer.empty() ? kFirstRead : std::min(reader.buffer.size() * 2, kLargestRead);
    reader.buffer.resize(want);
    ssize_t n = getdents64(reader.fd, reader.buffer.data(), reader.buffer.size());
    if (n <= 0)
      return nullptr;
    reader.next = 0;
    reader.size = static_cast<std::size_t>(n);
  }
  auto* entry = reinterpret_cast<dirent64*>(reader.buffer.data() + reader.next);
  reader.next += entry->d_reclen;
  return entry->d_name;
}

#else

struct FolderReader {
  DIR* stream;
};

void FolderReaderCloser::operator()(FolderReader* reader) const {
  closedir(reader->stream);
  delete reader;
}

FolderReaderPtr open_folder(const std::string& path) {
  DIR* stream = opendir(path.c_str());
  return FolderReaderPtr(stream != nullptr ? new FolderReader{stream} : nullptr);
}

const char* next_entry(FolderReader& reader) {
  dirent* entry = readdir(reader.stream);
  return entry != nullptr ? entry->d_name : nullptr;
}

#endif

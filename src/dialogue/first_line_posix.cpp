// POSIX has no text mode, so it is emulated here: the menu then looks the
// same on every platform for the same files.
#include <unistd.h>

#include <cerrno>
#include <cstddef>

#include "copy/file_ops.h"
#include "dialogue/first_line.h"

namespace {

constexpr int kEnd = -1;

// Delivers bytes of an open file as text-mode reading would, from its
// start. It reads at its own offset (pread), so the file's own stays where
// it was for the copy that follows.
class TextReader {
 public:
  explicit TextReader(int fd) : fd_(fd) {}

  int get() {
    int c = raw();
    if (c == 0x1A)
      return kEnd;
    if (c == '\r' && peek() == '\n')
      return raw();
    return c;
  }

 private:
  bool fill() {
    if (next_ < size_)
      return true;
    ssize_t n;
    do
      n = pread(fd_, buffer_, sizeof buffer_, offset_);
    while (n < 0 && errno == EINTR);
    next_ = 0;
    size_ = n > 0 ? static_cast<std::size_t>(n) : 0;
    offset_ += static_cast<off_t>(size_);
    return size_ > 0;
  }
  int raw() { return fill() ? static_cast<unsigned char>(buffer_[next_++]) : kEnd; }
  int peek() { return fill() ? static_cast<unsigned char>(buffer_[next_]) : kEnd; }

  int fd_;
  off_t offset_ = 0;
  char buffer_[512];
  std::size_t next_ = 0;
  std::size_t size_ = 0;
};

}  // namespace

bool read_first_line(File& file, std::string* line) {
  TextReader reader(static_cast<int>(file.handle));
  line->clear();
  while (line->size() < kFirstLineLength) {
    int c = reader.get();
    if (c == kEnd)
      break;
    line->push_back(static_cast<char>(c));
    if (c == '\n')
      break;
  }
  if (line->empty())
    return false;
  line->resize(line->find('\0') == std::string::npos ? line->size() : line->find('\0'));
  return true;
}

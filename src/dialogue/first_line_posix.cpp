// POSIX has no text mode, so it is emulated here: the menu then looks the
// same on every platform for the same files.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

#include "dialogue/first_line.h"

namespace {

constexpr int kEnd = -1;

// Delivers bytes of a file as text-mode reading would, from the
// descriptor it owns.
class TextReader {
 public:
  explicit TextReader(int fd) : fd_(fd) {}
  ~TextReader() {
    if (fd_ >= 0)
      close(fd_);
  }
  TextReader(const TextReader&) = delete;
  TextReader& operator=(const TextReader&) = delete;

  int fd() const { return fd_; }

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
      n = read(fd_, buffer_, sizeof buffer_);
    while (n < 0 && errno == EINTR);
    next_ = 0;
    size_ = n > 0 ? static_cast<std::size_t>(n) : 0;
    return size_ > 0;
  }
  int raw() { return fill() ? static_cast<unsigned char>(buffer_[next_++]) : kEnd; }
  int peek() { return fill() ? static_cast<unsigned char>(buffer_[next_]) : kEnd; }

  int fd_;
  char buffer_[512];
  std::size_t next_ = 0;
  std::size_t size_ = 0;
};

}  // namespace

bool read_first_line(const std::string& name, std::string* line) {
  // Only regular files are read at all, and nothing else is opened: the
  // open of a device may act on it. O_NONBLOCK keeps a named pipe that
  // slips in from blocking the open.
  struct stat st;
  if (stat(name.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
    return false;
  TextReader reader(open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (reader.fd() < 0 || fstat(reader.fd(), &st) != 0 || !S_ISREG(st.st_mode))
    return false;
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

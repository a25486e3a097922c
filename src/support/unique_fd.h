// A POSIX file descriptor closed when it goes out of scope.
#ifndef PICKCOPY_SUPPORT_UNIQUE_FD_H_
#define PICKCOPY_SUPPORT_UNIQUE_FD_H_

#include <unistd.h>

#include <cerrno>

class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() {
    if (fd_ >= 0) {
      int saved = errno;
      ::close(fd_);
      errno = saved;
    }
  }

  // Takes `fd`, closing the one held before; errno is kept for the caller.
  void reset(int fd) {
    int saved = errno;
    close();
    fd_ = fd;
    errno = saved;
  }

  bool valid() const { return fd_ >= 0; }
  int get() const { return fd_; }

  // Closes now and reports the result; 0 or an errno value.
  int close() {
    int fd = fd_;
    fd_ = -1;
    return fd >= 0 && ::close(fd) != 0 ? errno : 0;
  }

 private:
  int fd_;
};

#endif  // PICKCOPY_SUPPORT_UNIQUE_FD_H_

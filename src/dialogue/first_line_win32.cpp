// The first line as the C runtime's text mode reads it, from a handle of
// its own to the held file, so that the held one stays open for the copy.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>

#include "copy/file_ops.h"
#include "dialogue/first_line.h"

bool read_first_line(File& file, std::string* line) {
  HANDLE held = reinterpret_cast<HANDLE>(file.handle);  // NOLINT(performance-no-int-to-ptr)
  HANDLE handle = INVALID_HANDLE_VALUE;
  LARGE_INTEGER start{};
  if (!DuplicateHandle(GetCurrentProcess(), held, GetCurrentProcess(), &handle, 0, FALSE,
                       DUPLICATE_SAME_ACCESS) ||
      !SetFilePointerEx(handle, start, nullptr, FILE_BEGIN)) {
    if (handle != INVALID_HANDLE_VALUE)
      CloseHandle(handle);
    return false;
  }
  int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_RDONLY | _O_TEXT);
  if (fd < 0) {
    CloseHandle(handle);
    return false;
  }
  std::FILE* stream = _fdopen(fd, "r");
  if (stream == nullptr) {
    _close(fd);
    return false;
  }
  char buffer[kFirstLineLength + 1];
  bool read = std::fgets(buffer, sizeof buffer, stream) != nullptr;
  (void)std::fclose(stream);  // only read
  if (read)
    line->assign(buffer);
  return read;
}

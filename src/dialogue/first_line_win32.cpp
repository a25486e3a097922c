// The first line as the C runtime's text mode reads it.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>

#include "dialogue/first_line.h"
#include "path/native_win32.h"

bool read_first_line(const std::string& name, std::string* line) {
  HANDLE handle = CreateFileW(system_path(name).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE)
    return false;
  // Devices and pipes (CON, NUL, COM1...) could block or never end.
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    CloseHandle(handle);
    return false;
  }
  int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_RDONLY | _O_TEXT);
  if (fd < 0) {
    CloseHandle(handle);
    return false;
  }
  std::FILE* file = _fdopen(fd, "r");
  if (file == nullptr) {
    _close(fd);
    return false;
  }
  char buffer[kFirstLineLength + 1];
  bool read = std::fgets(buffer, sizeof buffer, file) != nullptr;
  (void)std::fclose(file);  // only read
  if (read)
    line->assign(buffer);
  return read;
}

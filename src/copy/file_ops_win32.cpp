// The copy's primitives on Windows, with the Win32 API and never through
// the command interpreter.
#include <windows.h>

#include <vector>

#include "copy/file_ops.h"

struct File {
  HANDLE handle;
};

void FileCloser::operator()(File* file) const {
  if (file->handle != INVALID_HANDLE_VALUE)
    CloseHandle(file->handle);
  delete file;
}

namespace {

SysError last_error() { return static_cast<SysError>(GetLastError()); }

FilePtr adopt(HANDLE handle) { return FilePtr(new File{handle}); }

bool write_all(HANDLE out, const char* data, DWORD size) {
  while (size > 0) {
    DWORD put = 0;
    if (!WriteFile(out, data, size, &put, nullptr))
      return false;
    data += put;
    size -= put;
  }
  return true;
}

bool rewind(HANDLE handle) {
  LARGE_INTEGER start{};
  return SetFilePointerEx(handle, start, nullptr, FILE_BEGIN) != 0;
}

}  // namespace

std::string describe_error(SysError err) {
  if (err == kNotRegularFile)
    err = ERROR_INVALID_FUNCTION;
  char* text = nullptr;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, static_cast<DWORD>(err), 0,
                           reinterpret_cast<char*>(&text), 0, nullptr);
  std::string reason = n != 0 && text != nullptr ? std::string(text, n)
                                                 : "error " + std::to_string(err);
  if (text != nullptr)
    LocalFree(text);
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' ||
                             reason.back() == ' '))
    reason.pop_back();
  return reason;
}

SysError open_source(const std::string& path, FilePtr* file, unsigned* mode) {
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (handle == INVALID_HANDLE_VALUE)
    return last_error();
  *file = adopt(handle);
  *mode = 0;
  // Devices and pipes (CON, NUL, COM1...) could block or never end.
  return GetFileType(handle) == FILE_TYPE_DISK ? 0 : kNotRegularFile;
}

SysError follow_links(const std::string& path, std::string* real) {
  *real = path;
  return 0;
}

SysError path_status(const std::string& path, PathStatus* status) {
  *status = PathStatus();
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD err = GetLastError();
    return err == ERROR_FILE_NOT_FOUND ? 0 : static_cast<SysError>(err);
  }
  status->exists = true;
  status->directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  status->regular = !status->directory && (attributes & FILE_ATTRIBUTE_DEVICE) == 0;
  return 0;
}

bool same_file(File& file, const std::string& path) {
  HANDLE other = CreateFileA(path.c_str(), 0,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
  if (other == INVALID_HANDLE_VALUE)
    return false;
  BY_HANDLE_FILE_INFORMATION a, b;
  bool same = GetFileInformationByHandle(file.handle, &a) &&
              GetFileInformationByHandle(other, &b) &&
              a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
              a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
  CloseHandle(other);
  return same;
}

SysError check_writable(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return last_error();
  return (attributes & FILE_ATTRIBUTE_READONLY) ? ERROR_ACCESS_DENIED : 0;
}

bool refuses_replace(SysError err) {
  return err == ERROR_ACCESS_DENIED || err == ERROR_SHARING_VIOLATION ||
         err == ERROR_NOT_SAME_DEVICE;
}

SysError create_temporary(const std::string& directory, unsigned, TempFile* temp) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = temporary_name(directory);
    HANDLE handle = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      temp->file = adopt(handle);
      temp->name = name;
      return 0;
    }
    if (GetLastError() != ERROR_FILE_EXISTS)
      return last_error();
  }
  return ERROR_FILE_EXISTS;
}

SysError name_temporary(const std::string&, TempFile*) { return 0; }

SysError carry_identity(const std::string&, File&) { return 0; }

SysError copy_data(File& in, File& out, bool, bool* reading) {
  *reading = false;
  if (!rewind(in.handle)) {
    *reading = true;
    return last_error();
  }
  if (!rewind(out.handle))
    return last_error();
  std::vector<char> buffer(1 << 17);
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(in.handle, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
      *reading = true;
      return last_error();
    }
    if (got == 0)
      break;
    if (!write_all(out.handle, buffer.data(), got))
      return last_error();
  }
  return SetEndOfFile(out.handle) ? 0 : last_error();
}

SysError flush_file(File& file) {
  return FlushFileBuffers(file.handle) ? 0 : last_error();
}

SysError close_file(FilePtr file) {
  HANDLE handle = file->handle;
  file->handle = INVALID_HANDLE_VALUE;
  return CloseHandle(handle) ? 0 : last_error();
}

SysError replace_file(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
             ? 0
             : last_error();
}

void remove_file(const std::string& path) { DeleteFileA(path.c_str()); }

// MOVEFILE_WRITE_THROUGH returns only once the move is on disk.
SysError sync_directory(const std::string&) { return 0; }

SysError open_in_place(const std::string& path, FilePtr* file) {
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE)
    return last_error();
  *file = adopt(handle);
  return 0;
}

// --- Console events --------------------------------------------------

namespace {

// The temporary file's name while it exists, for the console handler.
const char* volatile g_remove_on_exit = nullptr;

BOOL WINAPI remove_temporary(DWORD) {
  const char* name = g_remove_on_exit;
  if (name != nullptr)
    DeleteFileA(name);
  return FALSE;  // let the default handler end the program
}

}  // namespace

struct ExitCleanup::Saved {};

ExitCleanup::ExitCleanup() { SetConsoleCtrlHandler(remove_temporary, TRUE); }

ExitCleanup::~ExitCleanup() {
  g_remove_on_exit = nullptr;
  SetConsoleCtrlHandler(remove_temporary, FALSE);
}

void ExitCleanup::remove_on_exit(const char* path) { g_remove_on_exit = path; }

void ExitCleanup::hold() {}

void ExitCleanup::release() {}

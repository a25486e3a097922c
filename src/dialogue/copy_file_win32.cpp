// The copy on Windows, with the Win32 API and never through the command
// interpreter: the data go to a temporary file beside the target, are
// flushed, and the file is moved over the target in one step.
#include <windows.h>

#include <string>
#include <vector>

#include "dialogue/copy_file.h"

namespace {

// The temporary file's name while it exists, for the console handler.
const char* volatile g_temporary_name = nullptr;

BOOL WINAPI remove_temporary(DWORD) {
  const char* name = g_temporary_name;
  if (name != nullptr)
    DeleteFileA(name);
  return FALSE;  // let the default handler end the program
}

class UniqueHandle {
 public:
  explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { close(); }

  void reset(HANDLE handle) {
    close();
    handle_ = handle;
  }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  bool close() {
    HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return handle == INVALID_HANDLE_VALUE || CloseHandle(handle);
  }

 private:
  HANDLE handle_;
};

std::string system_reason(DWORD err) {
  char* text = nullptr;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, err, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string reason = n != 0 && text != nullptr ? std::string(text, n)
                                                 : "error " + std::to_string(err);
  if (text != nullptr)
    LocalFree(text);
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' ||
                             reason.back() == ' '))
    reason.pop_back();
  return reason;
}

bool fail(CopyFailure* failure, const std::string& file, DWORD err) {
  failure->file = file;
  failure->reason = system_reason(err);
  return false;
}

std::size_t prefix_end(const std::string& path) {
  std::size_t last = path.find_last_of("\\/:");
  return last == std::string::npos ? 0 : last + 1;
}

std::string temporary_name(const std::string& directory) {
  static unsigned counter = 0;
  char suffix[64];
  wsprintfA(suffix, ".pickcopy-%lx-%lx-%x.tmp", GetCurrentProcessId(), GetTickCount(), ++counter);
  return directory + suffix;
}

// Copies `in` to `out`; 0 or the system's error code.
DWORD copy_data(HANDLE in, HANDLE out) {
  std::vector<char> buffer(1 << 17);
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(in, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr))
      return GetLastError();
    if (got == 0)
      return 0;
    for (DWORD done = 0; done < got;) {
      DWORD put = 0;
      if (!WriteFile(out, buffer.data() + done, got - done, &put, nullptr))
        return GetLastError();
      done += put;
    }
  }
}

}  // namespace

bool copy_file(const std::string& source, const std::string& target,
               CopyFailure* failure) {
  UniqueHandle in(CreateFileA(source.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!in.valid())
    return fail(failure, source, GetLastError());
  if (GetFileType(in.get()) != FILE_TYPE_DISK)
    return fail(failure, source, ERROR_INVALID_FUNCTION);

  std::string to = target;
  DWORD attributes = GetFileAttributesA(to.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    char last = to.empty() ? '\\' : to.back();
    if (last != '\\' && last != '/' && last != ':')
      to += '\\';
    to += source.substr(prefix_end(source));
  }

  std::string temporary;
  UniqueHandle out(INVALID_HANDLE_VALUE);
  for (int attempt = 0; attempt < 100 && !out.valid(); ++attempt) {
    temporary = temporary_name(to.substr(0, prefix_end(to)));
    out.reset(CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out.valid() && GetLastError() != ERROR_FILE_EXISTS)
      return fail(failure, to, GetLastError());
  }
  if (!out.valid())
    return fail(failure, to, ERROR_FILE_EXISTS);
  g_temporary_name = temporary.c_str();
  SetConsoleCtrlHandler(remove_temporary, TRUE);

  DWORD err = copy_data(in.get(), out.get());
  if (err == 0 && !FlushFileBuffers(out.get()))
    err = GetLastError();
  if (!out.close() && err == 0)
    err = GetLastError();
  in.close();  // an open source could not be replaced when it is the target
  if (err == 0 && !MoveFileExA(temporary.c_str(), to.c_str(),
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    err = GetLastError();
  if (err != 0)
    DeleteFileA(temporary.c_str());
  g_temporary_name = nullptr;
  SetConsoleCtrlHandler(remove_temporary, FALSE);
  return err == 0 ? true : fail(failure, to, err);
}

// The copy's primitives on Windows, with the wide Win32 API (any name, any
// length) and never through the command interpreter. The replace is
// ReplaceFileW, which keeps the replaced file's attributes, security
// descriptor, alternate data streams and creation time; the attributes
// and creation time are also set on the new file beforehand, and the
// attributes again afterwards where they did not survive. ReplaceFileW
// works in steps: it is given a name to set the old file aside under, so
// that a failure half-way never loses it, and what a failure left under
// the names is looked at before anything else is done.
#include <windows.h>

#include <vector>

#include "copy/file_ops.h"
#include "path/native_win32.h"
#include "path/path.h"

namespace {

// A HANDLE is kept in File's integer, as the C runtime keeps one in an intptr_t.
HANDLE handle_of(File& file) {
  return reinterpret_cast<HANDLE>(file.handle);  // NOLINT(performance-no-int-to-ptr)
}

}  // namespace

void FileCloser::operator()(File* file) const {
  // A handle open only for reading, or given up after a failure: what its
  // close says cannot change the outcome. close_file() reports it where it
  // matters.
  if (handle_of(*file) != INVALID_HANDLE_VALUE)
    CloseHandle(handle_of(*file));
  delete file;
}

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The attributes a replacement takes from the file it replaces.
constexpr DWORD kCarried = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                           FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
// Those, and the mark of the temporary file, which the target must not get.
constexpr DWORD kMarks = kCarried | FILE_ATTRIBUTE_TEMPORARY;

SysError last_error() { return static_cast<int>(GetLastError()); }

SysError source_error() {
  SysError err = last_error();
  err.in_source = true;
  return err;
}

FilePtr adopt(HANDLE handle) { return FilePtr(new File{reinterpret_cast<std::intptr_t>(handle)}); }

HANDLE open_wide(const std::string& path, DWORD access, DWORD share, DWORD disposition,
                 DWORD flags = FILE_ATTRIBUTE_NORMAL) {
  return CreateFileW(system_path(path).c_str(), access, share, nullptr, disposition, flags,
                     nullptr);
}

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
  DWORD code = static_cast<DWORD>(err.code);
  if (err.code == kNotRegularFile)
    code = ERROR_INVALID_FUNCTION;
  else if (err.code == kGuardedLink)
    code = ERROR_ACCESS_DENIED;
  else if (err.code == kTargetChanged)
    return "changed by another program during the copy; left as it is";
  else if (err.code == kDanglingLink)
    return "a link that leads nowhere";
  else if (err.code == kNoFacility || err.code == kAttributesUnknown)
    code = ERROR_NOT_SUPPORTED;
  char* text = nullptr;
  DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string reason =
      n != 0 && text != nullptr ? std::string(text, n) : "error " + std::to_string(code);
  if (text != nullptr)
    LocalFree(text);
  while (!reason.empty() &&
         (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' '))
    reason.pop_back();
  return reason;
}

// --- The rules -------------------------------------------------------

bool refuses_replace(SysError err) {
  switch (err.code) {
    case ERROR_ACCESS_DENIED:      // no right to write the folder
    case ERROR_SHARING_VIOLATION:  // another program holds the target
    case ERROR_LOCK_VIOLATION:
    case ERROR_NOT_SAME_DEVICE:
    case ERROR_UNABLE_TO_REMOVE_REPLACED:
    case ERROR_USER_MAPPED_FILE:
      return true;
    default:
      return false;
  }
}

bool unsupported(SysError err) {
  return err.code == kNoFacility || err.code == ERROR_NOT_SUPPORTED ||
         err.code == ERROR_INVALID_FUNCTION;
}

bool name_taken(SysError err) {
  return err.code == ERROR_FILE_EXISTS || err.code == ERROR_ALREADY_EXISTS;
}

// Folders are not held on Windows: a missing file there means a missing
// folder.
bool makes_no_files(SysError) { return false; }

bool out_of_room(SysError err) {
  return err.code == ERROR_DISK_FULL || err.code == ERROR_HANDLE_DISK_FULL;
}

bool names_no_file(SysError err) {
  return err.code == ERROR_FILE_NOT_FOUND || err.code == ERROR_PATH_NOT_FOUND ||
         err.code == ERROR_CANT_RESOLVE_FILENAME;
}

// --- The source and the target ---------------------------------------

namespace {

// The volume and the file's number: which file a handle has open.
bool file_id(HANDLE handle, BY_HANDLE_FILE_INFORMATION* info) {
  return handle != INVALID_HANDLE_VALUE && GetFileInformationByHandle(handle, info) != 0;
}

bool same_id(const BY_HANDLE_FILE_INFORMATION& x, const BY_HANDLE_FILE_INFORMATION& y) {
  return x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
         x.nFileIndexLow == y.nFileIndexLow;
}

bool same_id(HANDLE a, HANDLE b) {
  BY_HANDLE_FILE_INFORMATION x, y;
  return file_id(a, &x) && file_id(b, &y) && same_id(x, y);
}

HANDLE held_handle(const Held& target) {
  return target.file ? handle_of(*target.file) : INVALID_HANDLE_VALUE;
}

bool missing(DWORD err) { return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND; }

void split(Held* held) {
  std::size_t folder_length = folder_part_length(held->path);
  held->folder = held->path.substr(0, folder_length);
  held->name = held->path.substr(folder_length);
}

// Where the open `handle` is, as the system names it, in `held`.
void final_path(HANDLE handle, Held* held) {
  std::vector<wchar_t> final(32768);
  DWORD n = GetFinalPathNameByHandleW(handle, final.data(), static_cast<DWORD>(final.size()),
                                      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (n > 0 && n < final.size()) {
    held->path = narrow_name(std::wstring(final.data(), n));
    split(held);
  }
}

}  // namespace

SysError hold_target(const std::string& path, Held* held) {
  *held = Held();
  held->path = path;
  split(held);
  DWORD attributes = GetFileAttributesW(system_path(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD err = GetLastError();
    return missing(err) ? SysError() : SysError(static_cast<int>(err));
  }
  // A symbolic link is written through: the file it leads to is the one
  // replaced, and the one held, for its attributes and its number. The
  // system says where an existing name leads (Wine shows a Unix link only
  // this way, not as a reparse point).
  HANDLE handle =
      open_wide(path, FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
  if (handle == INVALID_HANDLE_VALUE) {
    DWORD err = GetLastError();
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) && missing(err))
      return kDanglingLink;
    return static_cast<int>(err);
  }
  FilePtr file = adopt(handle);
  final_path(handle, held);
  BY_HANDLE_FILE_INFORMATION info;
  if (!file_id(handle, &info))
    return last_error();
  held->status.exists = true;
  held->through_link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  held->status.folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  held->status.regular =
      !held->status.folder && (info.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) == 0;
  if (held->status.regular)
    held->file = std::move(file);
  return {};
}

bool same_target(const Held& held, const Held& again) {
  if (held.path != again.path || held.status.exists != again.status.exists)
    return false;
  if (!held.file || !again.file)
    return !held.file && !again.file;
  return same_id(held_handle(held), held_handle(again));
}

SysError hold_in_folder(const Held& folder, const std::string& name, Held* held) {
  std::string path = folder.path;
  if (!path.empty() && !is_separator(path.back()))
    path += preferred_separator();
  SysError err = hold_target(path + name, held);
  held->through_link = held->through_link || folder.through_link;
  return err;
}

SysError hold_source(const std::string& path, Held* held, unsigned* mode) {
  *held = Held();
  held->path = path;
  split(held);
  // Shared for every use, so that holding the menu's files keeps no other
  // program from them; devices and pipes (CON, NUL, COM1...) could block
  // or never end.
  HANDLE handle =
      open_wide(path, GENERIC_READ, kShareAll, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN);
  if (handle == INVALID_HANDLE_VALUE)
    return last_error();
  held->file = adopt(handle);
  if (GetFileType(handle) != FILE_TYPE_DISK)
    return kNotRegularFile;
  DWORD attributes = GetFileAttributesW(system_path(path).c_str());
  held->through_link =
      attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  final_path(handle, held);
  held->status.exists = true;
  held->status.regular = true;
  if (mode != nullptr)
    *mode = 0;
  return {};
}

bool same_place(const Held& a, const Held& b) {
  return a.status.exists && b.status.exists && a.path == b.path;
}

bool same_file(File& file, const Held& target) {
  return same_id(handle_of(file), held_handle(target));
}

SysError check_writable(const Held& target) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!file_id(held_handle(target), &info))
    return last_error();
  if (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
    return ERROR_ACCESS_DENIED;
  // As an open for writing judges it: the access list. A program that
  // holds the file is no question of permission.
  HANDLE handle = open_wide(target.path, GENERIC_WRITE, kShareAll, OPEN_EXISTING);
  if (handle != INVALID_HANDLE_VALUE) {
    bool same = same_id(handle, held_handle(target));
    CloseHandle(handle);
    return same ? SysError() : SysError(kTargetChanged);
  }
  DWORD err = GetLastError();
  bool held = err == ERROR_SHARING_VIOLATION || err == ERROR_LOCK_VIOLATION;
  return held ? SysError() : SysError(static_cast<int>(err));
}

// --- The temporary file and the replace ------------------------------

// Windows has no files without a name.
SysError open_unnamed(const Held&, unsigned, FilePtr*) { return kNoFacility; }

SysError link_unnamed(File&, const Held&, const std::string&) { return kNoFacility; }

SysError create_new(const Held& target, const std::string& name, unsigned, FilePtr* file) {
  // Shared for deletion, so that the console handler can remove it while
  // it is open; hidden and temporary while it is written.
  HANDLE handle =
      open_wide(target.folder + name, GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_DELETE,
                CREATE_NEW, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY);
  if (handle == INVALID_HANDLE_VALUE)
    return last_error();
  *file = adopt(handle);
  // Marked for deletion from the start, so that the system removes it
  // when its handle goes, whatever ends the program (a forced end, a
  // crash). A file system that cannot mark it still has the console
  // handler, which removes it on Ctrl-C.
  FILE_DISPOSITION_INFO gone{};
  gone.DeleteFile = TRUE;
  SetFileInformationByHandle(handle, FileDispositionInfo, &gone, sizeof gone);
  return {};
}

SysError keep_temporary(File& file, bool new_target) {
  FILE_DISPOSITION_INFO kept{};  // DeleteFile FALSE
  if (!SetFileInformationByHandle(handle_of(file), FileDispositionInfo, &kept, sizeof kept))
    return last_error();
  if (!new_target)
    return {};              // the target's own attributes were given to it
  FILE_BASIC_INFO basic{};  // times left 0 stay as they are
  basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  return SetFileInformationByHandle(handle_of(file), FileBasicInfo, &basic, sizeof basic)
             ? SysError()
             : last_error();
}

// The attributes are given with the rest of the identity, after the data.
SysError ready_new_file(const Held&, File&) { return {}; }

// The attributes and the creation time of the held target, and only where
// the new file does not have them already.
SysError carry_identity(const Held& target, File& out) {
  FILE_BASIC_INFO want{};
  if (!GetFileInformationByHandleEx(held_handle(target), FileBasicInfo, &want, sizeof want))
    return last_error();
  FILE_BASIC_INFO have{};
  if (!GetFileInformationByHandleEx(handle_of(out), FileBasicInfo, &have, sizeof have))
    return last_error();
  FILE_BASIC_INFO basic{};  // times left 0 stay as they are
  basic.CreationTime = want.CreationTime;
  basic.FileAttributes = want.FileAttributes & kCarried;
  if (basic.CreationTime.QuadPart == have.CreationTime.QuadPart &&
      basic.FileAttributes == (have.FileAttributes & kMarks))
    return {};
  if (basic.FileAttributes == 0)
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  return SetFileInformationByHandle(handle_of(out), FileBasicInfo, &basic, sizeof basic)
             ? SysError()
             : last_error();
}

namespace {

bool set_length(HANDLE file, std::uint64_t length) {
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(length);
  return SetFileInformationByHandle(file, FileEndOfFileInfo, &end, sizeof end) != 0;
}

}  // namespace

SysError copy_data(File& in, File& out, bool, CopyProgress* progress) {
  HANDLE from = handle_of(in);
  HANDLE to = handle_of(out);
  LARGE_INTEGER size{};
  if (!rewind(from) || !GetFileSizeEx(from, &size))
    return source_error();
  // The new length comes first, before any byte is written: a file that
  // cannot take it (one that another program has mapped cannot be cut) or
  // a disk without room for it is found out with the file as it was.
  const auto length = static_cast<std::uint64_t>(size.QuadPart);
  if (!set_length(to, length) || !rewind(to))
    return last_error();
  std::vector<char> buffer(1 << 17);  // larger pieces are slower under Wine
  std::uint64_t done = 0;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(from, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr))
      return source_error();
    if (got == 0)
      break;
    if (!write_all(to, buffer.data(), got))
      return last_error();
    done += got;
    if (progress != nullptr)
      progress->advanced(done, length);
  }
  // A source whose length changed while it was read.
  return done == length || set_length(to, done) ? SysError() : last_error();
}

SysError check_room(File& in, File& out) {
  LARGE_INTEGER source, target;
  if (!GetFileSizeEx(handle_of(in), &source))
    return source_error();
  if (!GetFileSizeEx(handle_of(out), &target))
    return last_error();
  std::vector<wchar_t> path(32768), volume(32768);
  ULARGE_INTEGER free{};
  // Where the free room cannot be told, the writing goes ahead.
  if (GetFinalPathNameByHandleW(handle_of(out), path.data(), static_cast<DWORD>(path.size()),
                                VOLUME_NAME_DOS) == 0 ||
      !GetVolumePathNameW(path.data(), volume.data(), static_cast<DWORD>(volume.size())) ||
      !GetDiskFreeSpaceExW(volume.data(), &free, nullptr, nullptr))
    return {};
  LONGLONG need = source.QuadPart - target.QuadPart;
  return need > 0 && static_cast<ULONGLONG>(need) > free.QuadPart ? SysError(ERROR_DISK_FULL)
                                                                  : SysError();
}

SysError flush_file(File& file) {
  return FlushFileBuffers(handle_of(file)) ? SysError() : last_error();
}

SysError close_file(FilePtr file) {
  HANDLE handle = handle_of(*file);
  file->handle = reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE);
  return CloseHandle(handle) ? SysError() : last_error();
}

namespace {

// True when `path` is the name of the file `id` tells; a link under that
// name is not followed.
bool names_file(const std::wstring& path, const BY_HANDLE_FILE_INFORMATION& id) {
  HANDLE handle = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE)
    return false;
  BY_HANDLE_FILE_INFORMATION info;
  bool same = file_id(handle, &info) && same_id(info, id);
  CloseHandle(handle);
  return same;
}

// Renames `from` to `to` where no file has that name.
bool move_to_free_name(const std::wstring& from, const std::wstring& to) {
  return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
}

// After ReplaceFileW failed with `err`: what is under the target's name
// decides, whatever the error says. `old` tells the old target as it was
// before the replace (Wine no longer tells the volume through a handle
// whose name another file took). Nothing is removed here, so neither
// content is ever lost.
SysError after_failed_replace(const BY_HANDLE_FILE_INFORMATION& old, const std::wstring& source,
                              const std::wstring& target, const std::wstring& aside, DWORD err) {
  if (names_file(target, old)) {
    // The target was not touched: the copy may go another way.
    return err == ERROR_UNABLE_TO_MOVE_REPLACEMENT ? SysError(ERROR_ACCESS_DENIED)
                                                   : SysError(static_cast<int>(err));
  }
  if (!names_file(aside, old))
    return kTargetChanged;  // moved by someone else, or another file under its name
  // The old file is aside. The new one, whole and flushed, takes the name
  // where that is free, and the old one goes back where it is not.
  if (move_to_free_name(source, target))
    return {};
  if (move_to_free_name(aside, target))
    return ERROR_UNABLE_TO_MOVE_REPLACEMENT;  // in words: it kept its name
  SysError kept(static_cast<int>(err));
  kept.half_done = true;
  return kept;
}

}  // namespace

SysError replace_file(const Held& held, const std::string& name, const std::string& aside) {
  // Full paths: Wine's ReplaceFileW fails on a name without a folder part.
  std::wstring source = full_path(system_path(held.folder + name));
  std::wstring target = full_path(system_path(held.path));
  // A new target replaces no file that has come to have its name.
  if (!held.status.exists)
    return move_to_free_name(source, target) ? SysError() : last_error();
  // A target that another program holds without sharing its deletion
  // cannot be replaced, and ReplaceFileW would leave a file of its own in
  // the folder finding that out: the refusal comes first.
  HANDLE probe = CreateFileW(target.c_str(), DELETE, kShareAll, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (probe == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION)
    return ERROR_SHARING_VIOLATION;
  if (probe != INVALID_HANDLE_VALUE)
    CloseHandle(probe);
  DWORD before = GetFileAttributesW(target.c_str());
  BY_HANDLE_FILE_INFORMATION old;
  if (!file_id(held_handle(held), &old))
    return last_error();
  std::wstring set_aside = full_path(system_path(held.folder + aside));
  if (!ReplaceFileW(target.c_str(), source.c_str(), set_aside.c_str(),
                    REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS, nullptr,
                    nullptr))
    return after_failed_replace(old, source, target, set_aside, GetLastError());
  // ReplaceFileW keeps the attributes; where it does not (Wine drops
  // "hidden", which it reads from the temporary file's leading dot), they
  // are set again. The content is in place either way.
  DWORD after = GetFileAttributesW(target.c_str());
  if (before != INVALID_FILE_ATTRIBUTES && after != INVALID_FILE_ATTRIBUTES &&
      (after & kMarks) != (before & kMarks))
    SetFileAttributesW(target.c_str(), (after & ~kMarks) | (before & kMarks));
  return {};
}

SysError remove_aside(const Held& held, const std::string& aside) {
  if (!held.status.exists)
    return {};  // nothing was set aside
  HANDLE handle = CreateFileW(full_path(system_path(held.folder + aside)).c_str(),
                              DELETE | FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE)
    return missing(GetLastError()) ? SysError() : last_error();
  FilePtr file = adopt(handle);
  if (!same_id(handle, held_handle(held)))
    return {};  // not the old target: not pickcopy's to remove
  // Gone from the folder at once where the system can (Windows 10 from
  // 1709); elsewhere once the last program that has it open closes it.
  // FileDispositionInfoEx, which the headers declare only for builds
  // that require Windows 10.
  const auto disposition_ex = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
  FILE_DISPOSITION_INFO_EX posix{};
  posix.Flags = FILE_DISPOSITION_FLAG_DELETE | FILE_DISPOSITION_FLAG_POSIX_SEMANTICS;
  if (SetFileInformationByHandle(handle, disposition_ex, &posix, sizeof posix))
    return {};
  FILE_DISPOSITION_INFO gone{};
  gone.DeleteFile = TRUE;
  return SetFileInformationByHandle(handle, FileDispositionInfo, &gone, sizeof gone) ? SysError()
                                                                                     : last_error();
}

void remove_file(const Held& target, const std::string& name) {
  DeleteFileW(system_path(target.folder + name).c_str());
}

// MOVEFILE_WRITE_THROUGH returns only once the move is on disk.
SysError sync_folder(const Held&) { return {}; }

SysError open_in_place(const Held& target, FilePtr* file) {
  HANDLE handle = open_wide(target.path, GENERIC_WRITE, kShareAll, OPEN_EXISTING);
  if (handle == INVALID_HANDLE_VALUE)
    return missing(GetLastError()) ? SysError(kTargetChanged) : last_error();
  *file = adopt(handle);
  return same_id(handle, held_handle(target)) ? SysError() : SysError(kTargetChanged);
}

// No bits that lend a program its owner's rights.
SysError ready_in_place(const Held&, File&) { return {}; }

// --- Console events --------------------------------------------------

namespace {

// The temporary file's full name while it exists, for the console handler.
const wchar_t* volatile g_remove_on_exit = nullptr;

// Held by the copy while a name and its registration change together and
// while the replace runs. The console handler runs on a thread of its own
// and takes it first, so the program never ends between the two renames of
// a replace, with neither content under the target's name.
SRWLOCK g_steps = SRWLOCK_INIT;

// Ctrl-C, Ctrl-Break or the console closing during the copy: the temporary
// file goes (it is open for deletion), the target is untouched, and the
// handlers set before this one end the program, as the system's own
// would: as Windows console programs end on Ctrl-C. The lock stays taken,
// so that the copy takes no further step while the program ends.
BOOL WINAPI remove_temporary(DWORD) {
  AcquireSRWLockExclusive(&g_steps);
  const wchar_t* name = g_remove_on_exit;
  if (name != nullptr)
    DeleteFileW(name);
  return FALSE;
}

}  // namespace

struct ExitCleanup::Saved {
  std::wstring name;  // the temporary file's, made before it is handed over
};

ExitCleanup::ExitCleanup() : saved_(new Saved) { SetConsoleCtrlHandler(remove_temporary, TRUE); }

ExitCleanup::~ExitCleanup() {
  g_remove_on_exit = nullptr;
  SetConsoleCtrlHandler(remove_temporary, FALSE);
}

void ExitCleanup::remove_on_exit(const Held& target, const char* name) {
  g_remove_on_exit = nullptr;
  if (name == nullptr)
    return;
  saved_->name = system_path(target.folder + name);
  g_remove_on_exit = saved_->name.c_str();
}

void ExitCleanup::hold() { AcquireSRWLockExclusive(&g_steps); }

void ExitCleanup::release() { ReleaseSRWLockExclusive(&g_steps); }

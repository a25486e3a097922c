// The few file-system operations the copy is built on. copy_file.cpp holds
// the one algorithm; each platform implements these primitives in its own
// files (file_ops_posix.cpp with its helpers, file_ops_win32.cpp).
#ifndef PICKCOPY_COPY_FILE_OPS_H_
#define PICKCOPY_COPY_FILE_OPS_H_

#include <memory>
#include <string>

// errno on POSIX, GetLastError() on Windows; 0 is success.
using SysError = int;

// pickcopy's own reason, beside the system's: the file is a device, a pipe,
// a socket or anything else that is not a regular file.
constexpr SysError kNotRegularFile = -1;

// The system's words for `err`.
std::string describe_error(SysError err);

// An open file, closed when the pointer goes.
struct File;
struct FileCloser {
  void operator()(File* file) const;
};
using FilePtr = std::unique_ptr<File, FileCloser>;

// Opens the chosen file for reading; anything but a regular file is
// refused. `*mode` receives its permission bits (for a new target).
SysError open_source(const std::string& path, FilePtr* file, unsigned* mode);

// Follows symbolic links from `path` to the file they lead to, which need
// not exist yet. Where links are not followed, `*real` is `path`.
SysError follow_links(const std::string& path, std::string* real);

struct PathStatus {
  bool exists = false;
  bool directory = false;
  bool regular = false;
};
// What `path` is; a missing file is no error.
SysError path_status(const std::string& path, PathStatus* status);

// True when `path` names the very file `file` has open.
bool same_file(File& file, const std::string& path);

// 0 when the effective user may write the existing file `path`.
SysError check_writable(const std::string& path);

// Errors that mean the system will not let this folder or mount take an
// atomic replace (no write access, a sticky folder, a mount point, another
// device), so the target is to be written in place instead.
bool refuses_replace(SysError err);

// A temporary file beside the target. `name` is empty while the file has no
// name in the folder (an unnamed file, where the system has them).
struct TempFile {
  FilePtr file;
  std::string name;
};

// A fresh name for a temporary file in `directory`: ".pickcopy-" and 16
// random hexadecimal digits. The same on every platform.
std::string temporary_name(const std::string& directory);

// Creates a temporary file in `directory` ("" for the current one) with
// permission bits `mode`, unnamed where the system allows.
SysError create_temporary(const std::string& directory, unsigned mode, TempFile* temp);

// Gives an unnamed temporary file its name in `directory`; nothing for a
// named one.
SysError name_temporary(const std::string& directory, TempFile* temp);

// Gives the file `out` the identity of the existing file `target`: owner
// and group, then every permission bit, and every extended attribute and
// ACL except those bound to the old content. Not 0 when any of it cannot
// be carried over.
SysError carry_identity(const std::string& target, File& out);

// Copies the whole of `in` onto `out` from the start and cuts `out` to the
// same length. Holes in `in` stay holes where the system can tell. With
// `over_old`, `out` holds old data that must not show through.
// `*reading` tells whether the failure was in reading `in`.
SysError copy_data(File& in, File& out, bool over_old, bool* reading);

// Flushes the file's data and metadata to the disk.
SysError flush_file(File& file);

// Closes `file`, reporting what the close reports.
SysError close_file(FilePtr file);

// Renames `from` over `to` in one step.
SysError replace_file(const std::string& from, const std::string& to);

// Removes `path`, quietly.
void remove_file(const std::string& path);

// Flushes a folder's entries, so that a rename in it is on disk.
SysError sync_directory(const std::string& directory);

// Opens the existing regular file `path` for writing, without truncating.
SysError open_in_place(const std::string& path, FilePtr* file);

// While alive, the signals or console events that end the program first
// remove the file registered with `remove_on_exit` (none while it is null).
// Signals or events already ignored stay ignored.
class ExitCleanup {
 public:
  ExitCleanup();
  ~ExitCleanup();
  ExitCleanup(const ExitCleanup&) = delete;
  ExitCleanup& operator=(const ExitCleanup&) = delete;
  void remove_on_exit(const char* path);

  // While held, those signals wait, so that a file and its registration
  // come into being together. Where events cannot wait (Windows consoles),
  // these do nothing.
  void hold();
  void release();

 private:
  struct Saved;
  std::unique_ptr<Saved> saved_;
};

#endif  // PICKCOPY_COPY_FILE_OPS_H_

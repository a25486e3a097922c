// The file operations the copy is built on. copy_file.cpp holds the one
// algorithm over them; file_ops_posix.cpp (with data_posix.cpp) and
// file_ops_win32.cpp implement them for each platform, and the unit tests
// put a scripted stand-in in their place.
//
// Every operation reports through one channel, SysError (with pickcopy's
// own codes, in support/sys_error.h). The rules that
// turn its codes into the copy's decisions (write in place instead, try the
// next way, fail) are written once for each platform, at the head of its
// file_ops file.
#ifndef PICKCOPY_COPY_FILE_OPS_H_
#define PICKCOPY_COPY_FILE_OPS_H_

#include <cstdint>
#include <memory>
#include <string>

#include "copy/copy_file.h"
#include "support/sys_error.h"

// The words for `err`: the system's own, or pickcopy's for its codes.
std::string describe_error(SysError err);

// --- The rules -------------------------------------------------------

// The folder or the mount will not take an atomic replace (no right to
// write it, a sticky folder, a mount point, another device, a read-only
// file system): the target is written in place instead.
bool refuses_replace(SysError err);

// A call says it does not work here or for these files (kNoFacility among
// them): the next way is taken.
bool unsupported(SysError err);

// A file of the name already exists: another name is tried.
bool name_taken(SysError err);

// The target's folder takes no new files at all (a file system of the
// kernel's own): an existing target is written in place, and a failure
// names the target rather than its folder.
bool makes_no_files(SysError err);

// The disk or the user's quota is full.
bool out_of_room(SysError err);

// A name leads to no file that can be read: to nothing, to a folder, or
// through links that go round in a loop.
bool names_no_file(SysError err);

// --- Files -----------------------------------------------------------

// An open file: a descriptor on POSIX, a HANDLE on Windows.
struct File {
  std::intptr_t handle;
};
struct FileCloser {
  void operator()(File* file) const;
};
using FilePtr = std::unique_ptr<File, FileCloser>;

struct PathStatus {
  bool exists = false;
  bool folder = false;
  bool regular = false;
};

// The target as it was checked: the folder that holds it, open, and its
// name there; and where it exists, the file itself, open too. Every step
// after the checks goes through these and never looks the user's name up
// again, so that no one can slip another file or folder in under it.
struct Held {
  std::string path;    // the target with symbolic links followed
  std::string folder;  // the folder part of `path` ("" for the current folder)
  std::string name;    // the last component of `path`
  PathStatus status;
  bool through_link = false;  // a symbolic link was followed to reach it
  FilePtr folder_file;        // where the platform holds folders open
  FilePtr file;               // while status.regular; a target folder itself where held
};

// Resolves `path` and holds what it leads to. A symbolic link is followed
// as the kernel's guard for sticky folders would allow (refused with
// permission denied when the link lies in a sticky folder that others may
// write and belongs neither to the user nor to the folder's owner:
// kGuardedLink); a link that leads nowhere is refused (kDanglingLink). An error in reaching the
// folder is marked in_folder, with `held->folder` naming it.
SysError hold_target(const std::string& path, Held* held);

// Holds the file `name` (a last component) in the folder that `folder`,
// a target that is a folder, holds: as hold_target, with the folder as it
// was held, never looked up again by its name.
SysError hold_in_folder(const Held& folder, const std::string& name, Held* held);

// True when `again`, held anew from the same name, is what `held` holds:
// the same folder, the same name, and the same file or still none.
bool same_target(const Held& held, const Held& again);

// True when `a` and `b` are one name: the same folder and the same last
// component, each after its own symbolic links.
bool same_place(const Held& a, const Held& b);

// True when the held target is the very file `file` has open.
bool same_file(File& file, const Held& target);

// --- The choices ------------------------------------------------------

// Holds a candidate file for reading, from the menu's reading of its first
// line to the copy, so that the copy reads the very file the menu showed.
// Its symbolic links are followed as hold_target follows them (the same
// rule for sticky folders); a link that leads nowhere is ENOENT. Anything
// but a regular file is refused before it is opened, since the open of a
// device may act on it: EISDIR for a folder, kNotRegularFile otherwise.
// `held->file` is open for reading; `*mode`, where asked, receives its
// permission bits, for a new target.
SysError hold_source(const std::string& path, Held* held, unsigned* mode = nullptr);

// A file the menu shows: the name as the echo gives it, and the file held
// for it, or why it could not be held (such an entry is never copied).
struct Choice {
  std::string name;
  SysError error;
  Held held;
};

// No error when the effective user may write the held, existing target.
SysError check_writable(const Held& target);

// --- The temporary file ----------------------------------------------

// Opens a file with no name in the target's folder, with permission bits
// `mode`: it can leave nothing behind whatever ends the program.
// kNoFacility where the system or the file system has none.
SysError open_unnamed(const Held& target, unsigned mode, FilePtr* file);

// Gives the unnamed `file` the name `name` in the target's folder;
// name_taken() where that exists.
SysError link_unnamed(File& file, const Held& target, const std::string& name);

// Creates the temporary file `name` in the target's folder for writing,
// with permission bits `mode`, where no file of that name exists
// (name_taken() otherwise). Where the system can, the file is marked to go
// when it is closed, by whatever ends the program (Windows), until
// keep_temporary().
SysError create_new(const Held& target, const std::string& name, unsigned mode, FilePtr* file);

// Makes the named temporary `file` stay when it is closed, as the file it
// is to become: a `new_target` loses what marked it as temporary.
SysError keep_temporary(File& file, bool new_target);

// Readies the new, still empty file `out` that is to replace the held,
// existing target: it takes what of the target's identity a file takes
// only before its data (Linux's no-copy-on-write and compression flags,
// and the project ID), and loses the flags it took from its folder that
// the target lacks. Any error: the new file cannot take them.
SysError ready_new_file(const Held& target, File& out);

// Gives `out` the identity of the held, existing target: its file flags,
// owner and group, then the permission bits (set-user-ID and set-group-ID
// only where no one but root and the target's owner may have put the
// target under its name: one link, and a folder no one else may write),
// and every extended attribute and ACL except those bound to the old
// content. Any error: some of it could not be carried.
SysError carry_identity(const Held& target, File& out);

// Copies the whole of `in` onto `out` from the start and cuts `out` to the
// same length. Holes in `in` stay holes where the system can tell. With
// `over_old`, `out` holds old data that must not show through. An error in
// reading `in` is marked in_source. `progress` (null for none) is told of
// each piece. On Windows `out` is given its new length before any byte is
// written, so that a target that cannot take it (another program maps it)
// is refused as it was.
SysError copy_data(File& in, File& out, bool over_old, CopyProgress* progress);

// No error where the data of `in` can be written over those of `out`
// without the disk, the user's quota or the file-size limit running out on
// the way, as far as can be told beforehand.
SysError check_room(File& in, File& out);

// Flushes the file's data and metadata to the disk.
SysError flush_file(File& file);

// Closes `file`, reporting what the close reports.
SysError close_file(FilePtr file);

// Renames `name`, in the target's folder, over the target in one step.
// Where the system can tell (Windows), a target held as new replaces no
// file that has come to have its name: name_taken(). Where the system
// replaces in steps (Windows), the old target is first renamed to `aside`,
// a fresh name in the same folder, and stays there until remove_aside(); a
// replace that fails half-way is put right where it can be, as the
// platform's file says, and where it cannot, both files are kept and the
// error is marked half_done.
SysError replace_file(const Held& target, const std::string& name, const std::string& aside);

// Removes the old target from under `aside` after a replace, and nothing
// else that may have come to have that name.
SysError remove_aside(const Held& target, const std::string& aside);

// Removes `name` from the target's folder. Only a temporary file that is
// being given up is removed, and nothing better can be done where that
// fails, so no error is given.
void remove_file(const Held& target, const std::string& name);

// Flushes the target folder's entries, so that a rename in it is on disk.
SysError sync_folder(const Held& target);

// Opens the held, existing target again, for writing, without truncating;
// kTargetChanged where its name no longer leads to it.
SysError open_in_place(const Held& target, FilePtr* file);

// Readies the held target, open as `file` to be written in place, for the
// new content, before a byte of it is written: its set-user-ID and
// set-group-ID bits go where carry_identity would not give them to a new
// file, as the system clears them when one who may not keep them writes.
SysError ready_in_place(const Held& target, File& file);

// While alive, the signals or console events that end the program first
// remove the file registered with `remove_on_exit`.
// Signals or events already ignored stay ignored. A file-size limit makes
// a write fail (EFBIG) rather than end the program.
class ExitCleanup {
 public:
  ExitCleanup();
  ~ExitCleanup();
  ExitCleanup(const ExitCleanup&) = delete;
  ExitCleanup& operator=(const ExitCleanup&) = delete;
  // `name` is in the folder of `target`; null for none.
  void remove_on_exit(const Held& target, const char* name);

  // While held, those signals (on Windows, the console handler) wait, so
  // that a file and its registration come into being together, and a
  // replace is never cut off half-way. Not to be nested.
  void hold();
  void release();

 private:
  struct Saved;
  std::unique_ptr<Saved> saved_;
};

#endif  // PICKCOPY_COPY_FILE_OPS_H_

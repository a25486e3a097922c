// How a call went, in one type across pickcopy, as LLVM's code says it
// with std::error_code: no code is success; any other is the system's code
// (errno on POSIX and for the C library's streams, GetLastError() for the
// Windows API) or one of pickcopy's own codes below, which are negative.
#ifndef PICKCOPY_SUPPORT_SYS_ERROR_H_
#define PICKCOPY_SUPPORT_SYS_ERROR_H_

struct SysError {
  int code = 0;
  bool in_source = false;  // it went wrong in reading the chosen file
  bool in_folder = false;  // it went wrong in reaching the target's folder
  // A replace done in steps stopped half-way and could not be put right:
  // the old target is under the name set aside for it, and the new file
  // under its own.
  bool half_done = false;

  SysError() = default;
  SysError(int system_code) : code(system_code) {}  // NOLINT: a code is an error
  explicit operator bool() const { return code != 0; }
};

// --- pickcopy's own codes ----------------------------------------------

// The file is a device, a pipe, a socket: anything but a regular file.
constexpr int kNotRegularFile = -1;
// The system or the file system has no such call, or not for these files;
// the copy takes its next way.
constexpr int kNoFacility = -2;
// The system cannot tell which extended attributes and ACLs the file holds,
// so a new file cannot be sure to get them all.
constexpr int kAttributesUnknown = -3;
// The target's name no longer leads to the file or folder that was checked.
constexpr int kTargetChanged = -4;
// A symbolic link leads to no file, and nothing is written through it.
constexpr int kDanglingLink = -5;
// A symbolic link lies in a sticky folder that others may write and
// belongs neither to the user nor to the folder's owner: it is not
// followed, and the words are those of permission denied.
constexpr int kGuardedLink = -6;
// Standard input has ended.
constexpr int kEndOfInput = -7;

#endif  // PICKCOPY_SUPPORT_SYS_ERROR_H_

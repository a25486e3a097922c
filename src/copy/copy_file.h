// Replacing the target with a copy of the chosen file.
#ifndef PICKCOPY_COPY_COPY_FILE_H_
#define PICKCOPY_COPY_COPY_FILE_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Told how far the copy of the data has come.
class CopyProgress {
 public:
  virtual ~CopyProgress() = default;
  // `done` of the `total` bytes of the chosen file have come through: where
  // the system writes behind the copy, those that have reached the disk,
  // else those copied. Not called where the system copies the whole file
  // at once (a clone).
  virtual void advanced(std::uint64_t done, std::uint64_t total) = 0;
  // The data are all copied, and the final flush, which waits until they
  // are on the disk, begins.
  virtual void flushing() {}
};

struct CopyFailure {
  std::string file;    // the file the failure concerns
  std::string reason;  // the system's own words for it, or what was left undone
  // Where the reason names another file: that name, shown as names are,
  // and the words after it.
  std::string other;
  std::string after;
};

struct Choice;  // a file the menu shows, held (copy/file_ops.h)

// Makes `target` an exact byte copy of the file held for `shown[chosen]`,
// the entry the user chose among those the menu showed. The data are read
// from the file the menu read, never from a new open of its name; where
// the chosen name no longer leads to that file, or its hold had failed,
// nothing is copied.
//
// A target the effective user may not write is refused. Where the folder
// allows it and the new file can carry the target's identity (file flags,
// owner, group, permission bits, extended attributes and ACLs; set-ID bits
// only where no one else may have put the target under its name, and a
// write in place clears them there first), the data go to a temporary
// file beside the target, are flushed to disk and the file is renamed over
// the target, so the target is never seen half-written. Otherwise the data
// are written over the target in place. A target that is a folder receives
// the file under the source's last name component; a symbolic link stays a
// link and the file it leads to is replaced, unless the link lies in a
// sticky folder that others may write and belongs to someone else, or
// leads nowhere. Another of the shown choices is never overwritten through
// the target: not where the target's links lead to its name, nor where a
// write in place would write its file (the target named as it is, not
// through a link, is replaced as ever). Every step after the checks acts
// on the folder and the file that were checked; where the target's name
// has come to lead elsewhere by the rename, nothing is replaced.
//
// A failure is returned with what it concerns and why; no temporary file is
// left, and the target is as before unless the failure came while it was
// written in place, or after it already held the new content (the reason
// then says so).
// `progress`, where given, is told how far the data have come.
std::optional<CopyFailure> copy_file(const std::vector<Choice>& shown, std::size_t chosen,
                                     const std::string& target, CopyProgress* progress = nullptr);

// A fresh name for a temporary file beside the target: ".pickcopy-" and 16
// random hexadecimal digits.
std::string temporary_name();

#endif  // PICKCOPY_COPY_COPY_FILE_H_

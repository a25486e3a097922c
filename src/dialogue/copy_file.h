// Replacing the target with a copy of the chosen file.
#ifndef PICKCOPY_DIALOGUE_COPY_FILE_H_
#define PICKCOPY_DIALOGUE_COPY_FILE_H_

#include <string>

struct CopyFailure {
  std::string file;    // the file the failure concerns
  std::string reason;  // the system's own words for it
};

// Makes `target` an exact byte copy of `source`, atomically and durably:
// the data go to a temporary file in the target's directory, are flushed
// to disk, and the temporary file is renamed over the target. A target
// that is a directory receives the file under the source's last name
// component; a target that is a symbolic link has the file it points to
// replaced. On failure the target is as before, no temporary file is left,
// `*failure` says why and the result is false.
bool copy_file(const std::string& source, const std::string& target,
               CopyFailure* failure);

#endif  // PICKCOPY_DIALOGUE_COPY_FILE_H_

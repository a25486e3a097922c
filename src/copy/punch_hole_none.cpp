// Systems that cannot punch holes: old data under a hole are overwritten
// with zeros instead.
#include <cerrno>

#include "copy/file_posix.h"

int punch_hole(int, off_t, off_t) { return EOPNOTSUPP; }

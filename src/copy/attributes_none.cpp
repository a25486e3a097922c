// Systems whose extended attributes and ACLs pickcopy cannot read: it
// cannot tell what a new file would lose, so an existing target is always
// written in place, which keeps everything it has.
#include <cerrno>

#include "copy/file_posix.h"

int list_attributes(const std::string&, std::string*) { return ENOTSUP; }

int list_attributes(int, std::string*) { return ENOTSUP; }

int get_attribute(const std::string&, const char*, std::string*) { return ENOTSUP; }

int set_attribute(int, const char*, const std::string&) { return ENOTSUP; }

int remove_attribute(int, const char*) { return ENOTSUP; }

// Systems whose extended attributes pickcopy does not reach: there is
// nothing to carry but owner, group and permission bits.
#include "copy/file_posix.h"

int list_attributes(const std::string&, std::string* names) {
  names->clear();
  return 0;
}

int list_attributes(int, std::string* names) {
  names->clear();
  return 0;
}

int get_attribute(const std::string&, const char*, std::string* value) {
  value->clear();
  return 0;
}

int set_attribute(int, const char*, const std::string&) { return 0; }

int remove_attribute(int, const char*) { return 0; }

#include "path/path.h"

// A drive letter's colon ends a prefix as a backslash does ("c:a.txt"),
// and the system accepts forward slashes too.
std::string_view path_separators() { return "\\/:"; }

std::size_t folder_part_length(std::string_view path) {
  return prefix_length_where(path, [](char c) { return c == '\\' || c == '/' || c == ':'; });
}

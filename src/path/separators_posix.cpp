#include "path/path.h"

std::string_view path_separators() { return "/"; }

std::size_t folder_part_length(std::string_view path) {
  return prefix_length_where(path, [](char c) { return c == '/'; });
}

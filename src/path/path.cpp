#include "path/path.h"

// Plain loops: these run once for each of possibly tens of thousands of
// names, and the library's find_*_of search the set once per character.

bool is_separator(char c, std::string_view separators) {
  for (char separator : separators)
    if (c == separator)
      return true;
  return false;
}

std::size_t prefix_length(std::string_view path, std::string_view separators) {
  return prefix_length_where(path, [separators](char c) { return is_separator(c, separators); });
}

std::string_view folder_part(std::string_view path, std::string_view separators) {
  return path.substr(0, prefix_length(path, separators));
}

std::string_view last_component(std::string_view path, std::string_view separators) {
  return path.substr(prefix_length(path, separators));
}

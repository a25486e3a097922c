#include "choices/pattern_prefix.h"

// Plain loops: these run once for each of possibly tens of thousands of
// names, and the library's find_*_of search the set once per character.

std::size_t prefix_length(std::string_view pattern,
                          std::string_view separators) {
  for (std::size_t i = pattern.size(); i > 0; --i) {
    for (char separator : separators)
      if (pattern[i - 1] == separator)
        return i;
  }
  return 0;
}

bool has_wildcards(std::string_view component) {
  for (char c : component)
    if (c == '*' || c == '?' || c == '[')
      return true;
  return false;
}

// Splitting paths into their folder part and last component. The platform's
// own separators ("/" on POSIX; "\\", "/" and ":" on Windows, where a drive
// letter's colon ends a prefix too) are a constant test in the platform's
// file; the functions that take a set of separators serve callers that name
// the set themselves.
#ifndef PICKCOPY_PATH_PATH_H_
#define PICKCOPY_PATH_PATH_H_

#include <cstddef>
#include <string_view>

// The separators of the platform pickcopy was built for.
std::string_view path_separators();

// Length of the folder part of `path` with the platform's separators:
// everything up to and including its last separator; 0 when there is none.
std::size_t folder_part_length(std::string_view path);

// Length of the folder part of `path` where `is_separator(c)` tells the
// separators: the one loop behind folder_part_length and prefix_length.
template <typename IsSeparator>
std::size_t prefix_length_where(std::string_view path, IsSeparator is_separator) {
  for (std::size_t i = path.size(); i > 0; --i)
    if (is_separator(path[i - 1]))
      return i;
  return 0;
}

// Length of the folder part of `path`: everything up to and including
// its last separator; 0 when there is none.
std::size_t prefix_length(std::string_view path, std::string_view separators);

// The folder part of `path`, with its trailing separator; empty for none.
std::string_view folder_part(std::string_view path, std::string_view separators);

// What follows the folder part.
std::string_view last_component(std::string_view path, std::string_view separators);

// True when `c` is one of `separators`.
bool is_separator(char c, std::string_view separators);

#endif  // PICKCOPY_PATH_PATH_H_

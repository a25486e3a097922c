// Splitting paths into their directory part and last component, over a
// given set of separator characters ("/" on POSIX; "\\/:" on Windows,
// where a drive letter's colon ends a prefix too).
#ifndef PICKCOPY_PATH_PATH_H_
#define PICKCOPY_PATH_PATH_H_

#include <cstddef>
#include <string_view>

// The separators of the platform pickcopy was built for.
std::string_view path_separators();

// Length of the directory part of `path`: everything up to and including
// its last separator; 0 when there is none.
std::size_t prefix_length(std::string_view path, std::string_view separators);

// The directory part of `path`, with its trailing separator; empty for none.
std::string_view directory_part(std::string_view path, std::string_view separators);

// What follows the directory part.
std::string_view last_component(std::string_view path, std::string_view separators);

// True when `c` is one of `separators`.
bool is_separator(char c, std::string_view separators);

#endif  // PICKCOPY_PATH_PATH_H_

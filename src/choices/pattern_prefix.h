// Where the directory part of a wildcard pattern ends.
#ifndef PICKCOPY_CHOICES_PATTERN_PREFIX_H_
#define PICKCOPY_CHOICES_PATTERN_PREFIX_H_

#include <cstddef>
#include <string_view>

// Length of the directory prefix of `pattern`: everything up to and
// including its last character that is one of `separators`; 0 when there
// is none.
std::size_t prefix_length(std::string_view pattern,
                          std::string_view separators);

// True when `component` holds a character that the directory search
// treats as a wildcard.
bool has_wildcards(std::string_view component);

#endif  // PICKCOPY_CHOICES_PATTERN_PREFIX_H_

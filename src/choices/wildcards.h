// Which characters of a pattern are wildcards.
#ifndef PICKCOPY_CHOICES_WILDCARDS_H_
#define PICKCOPY_CHOICES_WILDCARDS_H_

#include <string_view>

// True when `component` holds a character that the folder search
// treats as a wildcard.
bool has_wildcards(std::string_view component);

#endif  // PICKCOPY_CHOICES_WILDCARDS_H_

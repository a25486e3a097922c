// Natural, numeric-aware comparison of two candidate names.
#ifndef PICKCOPY_CHOICES_COMPARE_NAMES_H_
#define PICKCOPY_CHOICES_COMPARE_NAMES_H_

#include <cstddef>

// Length of the longest leading part that `a` and `b` share and that ends
// with a path separator of the platform: the folder both names are in.
std::size_t shared_folder_length(const char* a, const char* b);

// 1 when `a` sorts after `b`, -1 when before, 0 when they count as equal.
// A shared folder part is passed over first; from there on:
// Where the rests of both names are numeric stems, their values decide and
// whatever follows is ignored; otherwise the next bytes decide, compared as
// signed chars. The relation is not transitive; the menu order comes from
// the exact merge procedure in sort_choices.
int compare_names(const char* a, const char* b);

// The same result as compare_names(a, b), for names whose folder parts are
// known: `a_folder_length` and `b_folder_length` are folder_part_length of
// each name up to its first zero byte, as add_choice keeps it. Where the
// shorter folder part begins the other name, it is the shared folder part,
// found with one memcmp; only names in different folders are searched for
// the separators they share.
int compare_names(const char* a, std::size_t a_folder_length, const char* b,
                  std::size_t b_folder_length);

#endif  // PICKCOPY_CHOICES_COMPARE_NAMES_H_

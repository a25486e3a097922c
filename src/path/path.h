// Where a path's folder part ends, in the rules of either platform. Every
// function takes the style of path it reads, the platform's own by default,
// so that the Windows rules are tested on every platform. The functions are
// inline: they run for each byte of tens of thousands of names, and with
// the style known where they are called each is a constant test.
#ifndef PICKCOPY_PATH_PATH_H_
#define PICKCOPY_PATH_PATH_H_

#include <cstddef>
#include <string_view>

enum class PathStyle {
  posix,    // '/' alone separates
  windows,  // '\\', '/' and ':' separate
  native,   // the style of the platform pickcopy was built for
};

// True when `c` separates the components of a path of `style`. Windows
// takes forward slashes as well as backslashes, and a drive letter's colon
// ends a folder part as a backslash does ("c:a.txt").
constexpr bool is_separator(char c, PathStyle style = PathStyle::native) {
#ifdef _WIN32
  if (style == PathStyle::native)
    style = PathStyle::windows;
#endif
  if (style == PathStyle::windows)
    return c == '\\' || c == '/' || c == ':';
  return c == '/';
}

// Length of the folder part of `path`: everything up to and including its
// last separator; 0 when there is none. What follows is its last component.
constexpr std::size_t folder_part_length(std::string_view path,
                                         PathStyle style = PathStyle::native) {
  for (std::size_t i = path.size(); i > 0; --i)
    if (is_separator(path[i - 1], style))
      return i;
  return 0;
}

// The separator that paths of `style` are built with.
constexpr char preferred_separator(PathStyle style = PathStyle::native) {
  return is_separator('\\', style) ? '\\' : '/';
}

#endif  // PICKCOPY_PATH_PATH_H_

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

// TODO(copy): move src/copy to the style API. The separators of the
// platform, the one that paths are built with first.
inline std::string_view path_separators() {
  return is_separator('\\') ? "\\/:" : "/";
}

// TODO(copy): move src/copy to the style API. True when `c` is one of
// `separators`.
inline bool is_separator(char c, std::string_view separators) {
  return separators.find(c) != std::string_view::npos;
}

// TODO(copy): move src/copy to the style API. The folder part of `path`
// where `separators` separate, with its trailing separator.
inline std::string_view folder_part(std::string_view path, std::string_view separators) {
  std::size_t length = path.size();
  while (length > 0 && !is_separator(path[length - 1], separators))
    --length;
  return path.substr(0, length);
}

// TODO(copy): move src/copy to the style API. What follows folder_part.
inline std::string_view last_component(std::string_view path, std::string_view separators) {
  return path.substr(folder_part(path, separators).size());
}

#endif  // PICKCOPY_PATH_PATH_H_

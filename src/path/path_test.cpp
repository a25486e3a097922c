#include "path/path.h"

#include <gtest/gtest.h>

#include <string>

#include "choices/wildcards.h"

namespace {

constexpr PathStyle kWindows = PathStyle::windows;
constexpr PathStyle kPosix = PathStyle::posix;

TEST(PathSplit, WindowsAndPosixSeparators) {
  const struct {
    std::string path;
    PathStyle style;
    std::string folder;
    std::string last;
  } cases[] = {
      {"a*.txt", kWindows, "", "a*.txt"},
      {"dir\\a*.txt", kWindows, "dir\\", "a*.txt"},
      {"c:a*.txt", kWindows, "c:", "a*.txt"},
      {"c:\\x\\y\\a*.txt", kWindows, "c:\\x\\y\\", "a*.txt"},
      {"a:b\\c*", kWindows, "a:b\\", "c*"},
      {"dir/a*.txt", kWindows, "dir/", "a*.txt"},
      {"\\a*", kWindows, "\\", "a*"},
      {"dir\\", kWindows, "dir\\", ""},
      {"", kWindows, "", ""},
      {"\\\\server\\share\\f", kWindows, "\\\\server\\share\\", "f"},
      {"x/y:z", kWindows, "x/y:", "z"},
      {"dir/sub/a*.txt", kPosix, "dir/sub/", "a*.txt"},
      {"/a*", kPosix, "/", "a*"},
      {"/", kPosix, "/", ""},
      {"c:a*.txt", kPosix, "", "c:a*.txt"},
      {"dir\\a*.txt", kPosix, "", "dir\\a*.txt"},
      {"../x", kPosix, "../", "x"},
  };
  for (const auto& c : cases) {
    std::size_t length = folder_part_length(c.path, c.style);
    EXPECT_EQ(c.path.substr(0, length), c.folder) << c.path;
    EXPECT_EQ(c.path.substr(length), c.last) << c.path;
  }
}

TEST(PathSplit, SeparatorsOfEachStyle) {
  for (int b = 0; b < 256; ++b) {
    char c = static_cast<char>(b);
    EXPECT_EQ(is_separator(c, kPosix), c == '/') << b;
    EXPECT_EQ(is_separator(c, kWindows), c == '/' || c == '\\' || c == ':') << b;
  }
}

TEST(PathSplit, FolderPartLengthInEachStyle) {
  // The native style is the platform's own.
  const bool windows = is_separator('\\');
  const struct {
    std::string path;
    std::size_t posix;
    std::size_t windows;
  } cases[] = {
      {"", 0, 0},           {"a", 0, 0},       {"dir/", 4, 4},      {"dir/sub/a.txt", 8, 8},
      {"dir\\a.txt", 0, 4}, {"c:a.txt", 0, 2}, {"c:\\x/y\\", 5, 7},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(folder_part_length(c.path, kPosix), c.posix) << c.path;
    EXPECT_EQ(folder_part_length(c.path, kWindows), c.windows) << c.path;
    EXPECT_EQ(folder_part_length(c.path), windows ? c.windows : c.posix) << c.path;
  }
}

TEST(HasWildcards, Characters) {
  EXPECT_TRUE(has_wildcards("a*"));
  EXPECT_TRUE(has_wildcards("a?"));
  EXPECT_TRUE(has_wildcards("a[12]"));
  EXPECT_FALSE(has_wildcards("plain name.txt"));
}

}  // namespace

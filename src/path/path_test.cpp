#include "path/path.h"

#include <gtest/gtest.h>

#include <string>

#include "choices/wildcards.h"

namespace {

constexpr const char* kWindows = "\\/:";
constexpr const char* kPosix = "/";

TEST(PathSplit, WindowsAndPosixSeparators) {
  const struct {
    std::string path;
    const char* separators;
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
      {"dir/sub/a*.txt", kPosix, "dir/sub/", "a*.txt"},
      {"/a*", kPosix, "/", "a*"},
      {"/", kPosix, "/", ""},
      {"c:a*.txt", kPosix, "", "c:a*.txt"},
      {"dir\\a*.txt", kPosix, "", "dir\\a*.txt"},
      {"../x", kPosix, "../", "x"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(folder_part(c.path, c.separators), c.folder) << c.path;
    EXPECT_EQ(last_component(c.path, c.separators), c.last) << c.path;
    EXPECT_EQ(prefix_length(c.path, c.separators), c.folder.size()) << c.path;
  }
}

TEST(PathSplit, PlatformFolderPart) {
  // The platform's own test gives what its set of separators gives.
  const bool windows = path_separators() != "/";
  const struct {
    std::string path;
    std::size_t posix;
    std::size_t windows;
  } cases[] = {
      {"", 0, 0},
      {"a", 0, 0},
      {"dir/", 4, 4},
      {"dir/sub/a.txt", 8, 8},
      {"dir\\a.txt", 0, 4},
      {"c:a.txt", 0, 2},
      {"c:\\x/y\\", 5, 7},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(folder_part_length(c.path), windows ? c.windows : c.posix) << c.path;
    EXPECT_EQ(folder_part_length(c.path), prefix_length(c.path, path_separators())) << c.path;
  }
}

TEST(HasWildcards, Characters) {
  EXPECT_TRUE(has_wildcards("a*"));
  EXPECT_TRUE(has_wildcards("a?"));
  EXPECT_TRUE(has_wildcards("a[12]"));
  EXPECT_FALSE(has_wildcards("plain name.txt"));
}

}  // namespace

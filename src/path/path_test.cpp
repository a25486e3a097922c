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
    std::string directory;
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
    EXPECT_EQ(directory_part(c.path, c.separators), c.directory) << c.path;
    EXPECT_EQ(last_component(c.path, c.separators), c.last) << c.path;
    EXPECT_EQ(prefix_length(c.path, c.separators), c.directory.size()) << c.path;
  }
}

TEST(HasWildcards, Characters) {
  EXPECT_TRUE(has_wildcards("a*"));
  EXPECT_TRUE(has_wildcards("a?"));
  EXPECT_TRUE(has_wildcards("a[12]"));
  EXPECT_FALSE(has_wildcards("plain name.txt"));
}

}  // namespace

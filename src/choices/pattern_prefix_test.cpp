#include "choices/pattern_prefix.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(PrefixLength, WindowsAndPosixSeparators) {
  const struct {
    std::string pattern;
    std::string separators;
    std::string prefix;
  } cases[] = {
      {"a*.txt", "\\:/", ""},
      {"dir\\a*.txt", "\\:/", "dir\\"},
      {"c:a*.txt", "\\:/", "c:"},
      {"c:\\x\\y\\a*.txt", "\\:/", "c:\\x\\y\\"},
      {"a:b\\c*", "\\:/", "a:b\\"},
      {"dir/a*.txt", "\\:/", "dir/"},
      {"\\a*", "\\:/", "\\"},
      {"", "\\:/", ""},
      {"dir/sub/a*.txt", "/", "dir/sub/"},
      {"/a*", "/", "/"},
      {"c:a*.txt", "/", ""},
      {"dir\\a*.txt", "/", ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.pattern.substr(0, prefix_length(c.pattern, c.separators)), c.prefix)
        << c.pattern;
}

TEST(HasWildcards, Characters) {
  EXPECT_TRUE(has_wildcards("a*"));
  EXPECT_TRUE(has_wildcards("a?"));
  EXPECT_TRUE(has_wildcards("a[12]"));
  EXPECT_FALSE(has_wildcards("plain name.txt"));
}

}  // namespace

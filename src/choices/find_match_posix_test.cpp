#include "choices/find_match.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using Names = std::vector<std::string>;

// A scratch folder, removed with the entries made in it, the last first.
struct Scratch {
  ~Scratch() {
    for (auto it = made.rbegin(); it != made.rend(); ++it)
      (void)std::remove(it->c_str());  // what is left is the system's temporary folder's
  }
  bool make(const std::string& name, int status) {
    if (status == 0)
      made.push_back(name);
    return status == 0;
  }
  std::vector<std::string> made;
};

// How the search for `pattern` starts, and the names it delivers.
MatchStart run_search(const std::string& pattern, Names* names) {
  MatchSearchPtr search;
  MatchStart start = find_match(pattern.c_str(), &search);
  EXPECT_EQ(search != nullptr, start == MatchStart::kSearch) << pattern;
  std::string name;
  while (search != nullptr && find_match(*search, &name))
    names->push_back(name);
  return start;
}

TEST(FindMatch, PatternsWithAndWithoutWildcards) {
  char folder[] = "/tmp/pickcopy-find-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  Scratch scratch;
  scratch.make(folder, 0);
  const std::string root = std::string(folder) + "/";
  ASSERT_TRUE(scratch.make(root + "dir", mkdir((root + "dir").c_str(), 0755)));
  for (const char* file : {"dir/x", "plain", "a1", "a[1]"}) {
    int fd = open((root + file).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    ASSERT_TRUE(scratch.make(root + file, fd >= 0 ? close(fd) : -1));
  }
  const struct {
    const char* pattern;  // in the scratch folder, as are the names
    MatchStart start;
    Names names;
  } cases[] = {
      // No wildcard in any component: one lookup, no search.
      {"plain", MatchStart::kItself, {}},
      {"dir/x", MatchStart::kItself, {}},
      {"dir/", MatchStart::kItself, {}},
      {"missing", MatchStart::kNothing, {}},
      {"plain/", MatchStart::kNothing, {}},
      // A name as the shell gives it stands for itself, wildcards and all;
      // a pattern that names no entry is expanded.
      {"a[1]", MatchStart::kItself, {}},
      {"a[12]", MatchStart::kSearch, {"a1"}},
      // A wildcard in a folder's component: the folders are read.
      {"d*/x", MatchStart::kSearch, {"dir/x"}},
      {"d*/", MatchStart::kSearch, {"dir/"}},
  };
  for (const auto& c : cases) {
    Names names;
    EXPECT_EQ(run_search(root + c.pattern, &names), c.start) << c.pattern;
    Names expected;
    for (const std::string& name : c.names)
      expected.push_back(root + name);
    EXPECT_EQ(names, expected) << c.pattern;
  }
  Names none;
  EXPECT_EQ(run_search("", &none), MatchStart::kNothing);
}

}  // namespace

#include "choices/find_match.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using Names = std::vector<std::string>;

// A scratch folder whose entries are removed with it, the last made first.
class Scratch {
 public:
  Scratch() {
    char name[] = "/tmp/pickcopy-find-XXXXXX";
    if (mkdtemp(name) != nullptr)
      path_ = name;
  }
  ~Scratch() {
    for (auto it = made_.rbegin(); it != made_.rend(); ++it)
      remove(it->c_str());
    if (!path_.empty())
      rmdir(path_.c_str());
  }
  const std::string& path() const { return path_; }

  bool folder(const std::string& name) { return made(name, mkdir(at(name).c_str(), 0755)); }
  bool file(const std::string& name) {
    std::FILE* f = std::fopen(at(name).c_str(), "w");
    return made(name, f != nullptr && std::fclose(f) == 0 ? 0 : -1);
  }
  bool link(const std::string& name, const std::string& to) {
    return made(name, symlink(to.c_str(), at(name).c_str()));
  }

 private:
  std::string at(const std::string& name) const { return path_ + "/" + name; }
  bool made(const std::string& name, int status) {
    if (status == 0)
      made_.push_back(at(name));
    return status == 0;
  }

  std::string path_;
  std::vector<std::string> made_;
};

// What the search for `pattern` starts with and delivers.
MatchStart run_search(const std::string& pattern, Names* names) {
  MatchSearchPtr search;
  MatchStart start = find_match(pattern, &search);
  EXPECT_EQ(search != nullptr, start == MatchStart::kSearch) << pattern;
  std::string name;
  while (search != nullptr && find_match(*search, &name))
    names->push_back(name);
  return start;
}

TEST(FindMatch, PatternsWithAndWithoutWildcards) {
  Scratch scratch;
  ASSERT_FALSE(scratch.path().empty());
  const std::string& root = scratch.path();
  ASSERT_TRUE(scratch.folder("dir"));
  ASSERT_TRUE(scratch.file("plain"));
  ASSERT_TRUE(scratch.file("a[1].txt"));
  ASSERT_TRUE(scratch.file("dir/x"));
  ASSERT_TRUE(scratch.link("dangling", "nowhere"));
  const struct {
    std::string pattern;  // within the scratch folder
    MatchStart start;
    Names names;  // within the scratch folder
  } cases[] = {
      // Without wildcards: one lookup, of the entry itself, not followed.
      {"plain", MatchStart::kItself, {}},
      {"dir/x", MatchStart::kItself, {}},
      {"dir/", MatchStart::kItself, {}},
      {"dangling", MatchStart::kItself, {}},
      {"missing", MatchStart::kNothing, {}},
      {"plain/", MatchStart::kNothing, {}},
      {"dir/missing", MatchStart::kNothing, {}},
      // With wildcards in any component: the folders are read.
      {"pl?in", MatchStart::kSearch, {"plain"}},
      {"d*/x", MatchStart::kSearch, {"dir/x"}},
      {"a[1].txt", MatchStart::kSearch, {"a[1].txt"}},  // matches nothing, stands for itself
      {"x*", MatchStart::kSearch, {}},
      {"missing/*", MatchStart::kNothing, {}},
  };
  for (const auto& c : cases) {
    Names names;
    EXPECT_EQ(run_search(root + "/" + c.pattern, &names), c.start) << c.pattern;
    Names expected;
    for (const std::string& name : c.names)
      expected.push_back(root + "/" + name);
    EXPECT_EQ(names, expected) << c.pattern;
  }
  Names none;
  EXPECT_EQ(run_search("", &none), MatchStart::kNothing);
}

}  // namespace

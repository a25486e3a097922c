#include <gtest/gtest.h>

#include <set>
#include <string>

#include "copy/file_ops.h"

namespace {

TEST(TemporaryName, BesideTheTargetAndFreshEachTime) {
  std::set<std::string> seen;
  for (const std::string directory : {"", "dir/", "c:\\x\\"}) {
    for (int i = 0; i < 1000; ++i) {
      std::string name = temporary_name(directory);
      ASSERT_EQ(name.compare(0, directory.size(), directory), 0) << name;
      std::string rest = name.substr(directory.size());
      ASSERT_EQ(rest.size(), 26u) << name;
      EXPECT_EQ(rest.compare(0, 10, ".pickcopy-"), 0) << name;
      EXPECT_EQ(rest.find_first_not_of("0123456789abcdef", 10), std::string::npos) << name;
      EXPECT_TRUE(seen.insert(rest).second) << "repeated " << name;
    }
  }
}

}  // namespace

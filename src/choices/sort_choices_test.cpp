#include "choices/sort_choices.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Names = std::vector<std::string>;

// Builds a list in `pending` order, sorts it and reads it back.
Names sorted(const Names& pending) {
  ChoiceList list;
  for (auto it = pending.rbegin(); it != pending.rend(); ++it)
    list.head = add_choice(list.head, *it);
  list.head = sort_choices(list.head);
  Names out;
  for (const ChoiceNode* n = list.head; n != nullptr; n = n->next)
    out.push_back(n->name);
  return out;
}

TEST(SortChoices, ProcedureOrders) {
  const struct {
    Names pending;
    Names expected;
  } cases[] = {
      {{}, {}},
      {{"only"}, {"only"}},
      {{"file10", "file9", "file1", "file2"}, {"file1", "file2", "file9", "file10"}},
      // The comparison is not transitive; these orders come from the
      // procedure itself.
      {{"2", "10", "1a"}, {"1a", "2", "10"}},
      {{"1a", "10", "2"}, {"2", "10", "1a"}},
      {{"10", "2", "1a"}, {"1a", "2", "10"}},
      {{"track2.txt", "track10.txt", "track1a.txt"},
       {"track1a.txt", "track2.txt", "track10.txt"}},
      // Equal names keep their pending order.
      {{"a.txt", "a.bat"}, {"a.txt", "a.bat"}},
      {{"a.bat", "a.txt"}, {"a.bat", "a.txt"}},
      {{"a.txt", "a.bat", "b.c", "a.doc"}, {"a.txt", "a.bat", "a.doc", "b.c"}},
      {{"readme.txt", "10.txt", "2.txt", "file10.c", "file2.c", "File1.c", "abc"},
       {"2.txt", "10.txt", "File1.c", "abc", "file2.c", "file10.c", "readme.txt"}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(sorted(c.pending), c.expected);
}

TEST(SortChoices, LargeListIsOrderedAndComplete) {
  Names pending;
  for (int i = 5000; i > 0; --i)
    pending.push_back("n" + std::to_string((i * 7919) % 5000) + ".dat");
  Names out = sorted(pending);
  ASSERT_EQ(out.size(), pending.size());
  for (std::size_t i = 1; i < out.size(); ++i)
    EXPECT_LE(std::stoi(out[i - 1].substr(1)), std::stoi(out[i].substr(1)));
}

}  // namespace

#include "choices/sort_choices.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using Names = std::vector<std::string>;

// Builds a list in `pending` order, sorts it and reads it back.
Names sorted(const Names& pending) {
  ChoiceList list;
  for (auto it = pending.rbegin(); it != pending.rend(); ++it)
    add_choice(&list, *it);
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
      {{"track2.txt", "track10.txt", "track1a.txt"}, {"track1a.txt", "track2.txt", "track10.txt"}},
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

TEST(ChoiceList, NamesOfAnyLengthKeepTheirText) {
  // The list's storage comes in blocks of 64 KiB: names fill several, and a
  // name longer than a block gets one of its own, before or after others.
  const std::size_t lengths[] = {0, 1, 7, 8, 9, 65535, 65536, 100000, 3, 200000, 0};
  Names names;
  for (std::size_t length : lengths)
    names.push_back(std::string(length, 'x') + "/" + std::to_string(length));
  for (int i = 0; i < 5000; ++i)
    names.push_back("f" + std::to_string(i));
  ChoiceList list;
  for (const std::string& name : names)
    add_choice(&list, name);
  const std::string lasting = "folder/lasting";
  add_lasting_choice(&list, lasting.c_str());
  EXPECT_EQ(list.head->name, lasting.c_str());  // the text itself, not a copy
  EXPECT_EQ(list.head->folder_length, 7u);
  auto name = names.rbegin();
  for (const ChoiceNode* n = list.head->next; n != nullptr; n = n->next, ++name) {
    ASSERT_NE(name, names.rend());
    EXPECT_EQ(n->name, *name);
    std::size_t slash = name->find('/');
    EXPECT_EQ(n->folder_length, slash == std::string::npos ? 0 : slash + 1) << n->name;
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(n) % alignof(ChoiceNode), 0u);
  }
  EXPECT_EQ(name, names.rend());
}

TEST(ChoiceList, NamesOrderedByOtherBytes) {
  // Windows orders a name by the bytes the dialogue writes for it, which
  // the node keeps beside the name itself.
  ChoiceList list;
  add_choice(&list, "b-held", "dir/1");
  add_choice(&list, "a-held", "dir/2");
  add_choice(&list, "c");
  EXPECT_STREQ(list.head->ordered_as, "c");
  EXPECT_EQ(list.head->ordered_as, list.head->name);  // no second copy
  list.head = sort_choices(list.head);
  Names out;
  for (const ChoiceNode* n = list.head; n != nullptr; n = n->next)
    out.push_back(n->name);
  EXPECT_EQ(out, (Names{"c", "b-held", "a-held"}));  // by name it would be the reverse
  EXPECT_EQ(list.head->next->folder_length, 4u);
  EXPECT_STREQ(list.head->next->ordered_as, "dir/1");
}

}  // namespace

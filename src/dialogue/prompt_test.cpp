#include "dialogue/prompt.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ParseAnswer, FirstWordOfAtMostFiveBytes) {
  const struct {
    std::string chunk;
    bool parsed;
    std::string answer;
  } cases[] = {
      // Two cases a row, aligned as a table.
      // clang-format off
      {"b\n", true, "b"},         {"  \t b\n", true, "b"},
      {"banana\n", true, "banan"}, {"bcdef\n", true, "bcdef"},
      {"\n", false, ""},          {"   \t\r\n", false, ""},
      {"", false, ""},            {std::string("\0b\n", 3), false, ""},
      {std::string("c\0d", 3), true, "c"}, {"x y\n", true, "x"},
      // clang-format on
  };
  for (const auto& c : cases) {
    std::string answer;
    EXPECT_EQ(parse_answer(c.chunk, &answer), c.parsed) << c.chunk;
    if (c.parsed) {
      EXPECT_EQ(answer, c.answer);
    }
  }
}

TEST(ChoiceIndex, LettersEitherCase) {
  const struct {
    std::string answer;
    int entries;
    int index;
  } cases[] = {
      // Four cases a row, aligned as a table.
      // clang-format off
      {"a", 3, 0},  {"B", 3, 1},  {"banan", 3, 1}, {"c", 3, 2},
      {"d", 3, -1}, {"z", 25, -1}, {"y", 25, 24}, {"Y", 25, 24},
      {"a", 0, -1}, {"1", 3, -1}, {"\xE1", 3, -1}, {"[", 3, -1},
      // clang-format on
  };
  for (const auto& c : cases)
    EXPECT_EQ(choice_index(c.answer, c.entries), c.index) << c.answer;
}

}  // namespace

#include "dialogue/wrap.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string repeat(char c, std::size_t n) { return std::string(n, c); }

// The first line that wrap_line made `text` of. A first line holds no
// newline but its last byte, so every newline followed by five spaces is a
// separator that wrap_line put in.
std::string unwrapped_line(std::string_view text) {
  std::string line;
  std::size_t start = 0;
  std::size_t at;
  while ((at = text.find(kContinuation, start)) != std::string_view::npos) {
    line.append(text.substr(start, at - start));
    start = at + kContinuation.size();
  }
  line.append(text.substr(start));
  return line;
}

TEST(WrapLine, Table) {
  const std::string chapter =
      "Chapter ten: the long one, whose first line runs on well past the "
      "seventy-five column limit of the menu\n";
  ASSERT_EQ(chapter.size(), 104u);
  const std::string x74 = repeat('x', 74);
  const struct {
    std::string line;
    std::string expected;
  } cases[] = {
      {"short\n", "short\n"},
      {"no newline", "no newline"},
      {x74 + "\n", x74 + "\n"},  // 75 with the newline: unchanged
      {repeat('w', 70) + " word\n",
       repeat('w', 70) + "\n      word\n"},  // broken at the last space
      {chapter, chapter.substr(0, 65) + "\n     " + chapter.substr(65)},
      {repeat('y', 75) + "\n", repeat('y', 75) + "\n     \n"},  // hard cut
      {repeat('z', 160) + "\n",
       repeat('z', 75) + "\n     " + repeat('z', 75) + "\n     " + repeat('z', 10) + "\n"},
      {repeat('a', 75) + " \n", repeat('a', 75) + "\n      \n"},
      {repeat('b', 70) + "\t" + repeat('b', 10) + "\n",  // a tab does not break
       repeat('b', 70) + "\t" + repeat('b', 4) + "\n     " + repeat('b', 6) + "\n"},
      {repeat('c', 60) + "   " + repeat('c', 20) + "\n",  // last space within reach
       repeat('c', 60) + "  \n      " + repeat('c', 20) + "\n"},
      {" " + repeat('d', 80) + "\n",  // a leading space never breaks its row
       " " + repeat('d', 74) + "\n     " + repeat('d', 6) + "\n"},
      // 70 + ' ' + 72 + ' ' + 'q' + '\n': after the first break 76 bytes
      // remain, which are broken again at their last space.
      {repeat('e', 70) + " " + repeat('f', 72) + " q\n",
       repeat('e', 70) + "\n      " + repeat('f', 72) + "\n      q\n"},
      // 70 + ' ' + 71 + ' ' + 'q' + '\n': after the first break exactly 75
      // bytes remain; they would fit a row, and are still broken at their
      // last space.
      {repeat('g', 70) + " " + repeat('h', 71) + " q\n",
       repeat('g', 70) + "\n      " + repeat('h', 71) + "\n      q\n"},
      // Exactly 75 left without a space: they are the last row.
      {repeat('i', 75) + repeat('j', 75), repeat('i', 75) + "\n     " + repeat('j', 75)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(wrap_line(c.line), c.expected) << c.line;
    EXPECT_EQ(unwrapped_line(c.expected), c.line) << c.line;
  }
}

}  // namespace

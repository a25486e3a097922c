#include "dialogue/progress.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(ProgressText, PercentAmountsAndRate) {
  const struct {
    std::uint64_t done, total;
    double seconds;
    std::size_t columns;  // 0: unknown
    std::string text;
  } cases[] = {
      {0, 1 << 30, 1.0, 0, "  0%  0 B of 1.0 GiB  0 B/s"},
      {451000000, 1073741824, 2.0, 0, " 42%  430.1 MiB of 1.0 GiB  215.1 MiB/s"},
      {1 << 30, 1 << 30, 4.0, 0, "100%  1.0 GiB of 1.0 GiB  256.0 MiB/s"},
      {1023, 1024, 1.0, 0, " 99%  1023 B of 1.0 KiB  1023 B/s"},
      {5, 0, 1.0, 0, "100%  5 B of 0 B  5 B/s"},  // a file that grew from nothing
      {10, 5, 0.0, 0, "100%  10 B of 5 B"},
      // The width less one: the rate goes first, then the sizes.
      {451000000, 1073741824, 2.0, 40, " 42%  430.1 MiB of 1.0 GiB  215.1 MiB/s"},
      {451000000, 1073741824, 2.0, 39, " 42%  430.1 MiB of 1.0 GiB"},
      {451000000, 1073741824, 2.0, 30, " 42%  430.1 MiB of 1.0 GiB"},
      {451000000, 1073741824, 2.0, 10, " 42%"},
      {451000000, 1073741824, 2.0, 6, " 42%"},
      {451000000, 1073741824, 2.0, 5, ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(progress_text(c.done, c.total, c.seconds, c.columns), c.text) << c.columns;
  EXPECT_EQ(flushing_text(1 << 30), "100%  1.0 GiB  writing to disk");
  EXPECT_EQ(flushing_text(1 << 30, 30), "100%  1.0 GiB");
  EXPECT_EQ(flushing_text(1 << 30, 10), "100%");
}

// A terminal as the line sees it: only what is left on its screen.
struct Screen {
  std::string line;
  std::size_t column = 0;
  std::vector<std::string> writes;

  void write(const std::string& text) {
    writes.push_back(text);
    for (char c : text) {
      if (c == '\r') {
        column = 0;
        continue;
      }
      if (column < line.size())
        line[column] = c;
      else
        line.push_back(c);
      ++column;
    }
  }
};

TEST(ProgressLine, QuietWhenQuickThrottledAndErased) {
  double clock = 100;
  Screen screen;
  auto line = [&] {
    return ProgressLine([&] { return clock; }, [] { return std::size_t{0}; },
                        [&](const std::string& t) { screen.write(t); });
  };
  {
    ProgressLine quick = line();
    for (int i = 0; i < 10; ++i) {
      quick.advanced(i, 10);
      clock += 0.09;
    }
    quick.finish();
    EXPECT_TRUE(screen.writes.empty()) << "a copy under a second shows nothing";
  }
  ProgressLine slow = line();
  clock += 1.0;
  slow.advanced(1 << 20, 1 << 30);
  clock += 0.1;
  slow.advanced(2 << 20, 1 << 30);  // too soon after the last
  ASSERT_EQ(screen.writes.size(), 1u);
  EXPECT_EQ(screen.writes[0], "\r  0%  1.0 MiB of 1.0 GiB  1.0 MiB/s");
  clock += 0.2;
  slow.advanced(900 << 20, 1 << 30);
  clock += 10;
  slow.advanced(1 << 30, 1 << 30);
  ASSERT_EQ(screen.writes.size(), 3u);
  EXPECT_EQ(screen.line.find_first_not_of(' ', screen.line.find("/s") + 2), std::string::npos)
      << "a shorter line leaves no rest of a longer one: " << screen.line;
  slow.finish();
  EXPECT_EQ(screen.line.find_first_not_of(' '), std::string::npos) << screen.line;
  EXPECT_EQ(screen.column, 0u) << "what follows starts at the line's beginning";
}

TEST(ProgressLine, FitsTheWidthAtEachUpdateAndSaysWhenFlushing) {
  double clock = 100;
  std::size_t columns = 0;
  Screen screen;
  ProgressLine line([&] { return clock; }, [&] { return columns; },
                    [&](const std::string& t) { screen.write(t); });
  clock += 1.0;
  line.advanced(1 << 20, 1 << 30);
  columns = 30;  // narrowed: from now on nothing is written past column 29
  clock += 0.5;
  line.advanced(2 << 20, 1 << 30);
  line.flushing();
  columns = 12;
  line.finish();
  const std::vector<std::string> writes = {
      "\r  0%  1.0 MiB of 1.0 GiB  1.0 MiB/s",
      "\r  0%  2.0 MiB of 1.0 GiB" + std::string(5, ' '),
      "\r100%  1.0 GiB" + std::string(11, ' '),
      "\r" + std::string(11, ' ') + "\r",
  };
  EXPECT_EQ(screen.writes, writes);
}

}  // namespace

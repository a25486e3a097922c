#include "dialogue/terminal_text.h"

#include <gtest/gtest.h>

#include <string>

#include "dialogue/first_line.h"
#include "dialogue/wrap.h"

namespace {

TEST(ShownOnTerminal, ControlBytesBecomeQuestionMarksOneForOne) {
  const struct {
    std::string text;
    std::string shown;
  } cases[] = {
      {"plain text\n", "plain text\n"},
      {"tab\tstays\n", "tab\tstays\n"},
      {"\x1b[31mred\x1b[0m\n", "?[31mred?[0m\n"},  // an escape sequence
      {"\x1b]0;title\x07\n", "?]0;title?\n"},      // a window title, ended by BEL
      {"over\rwrite\n", "over?write\n"},           // a carriage return mid-line
      {"back\bspace del\x7f\n", "back?space del?\n"},
      {std::string("\x01\x1f\x0b\x0c", 4), "????"},
      {"caf\xc3\xa9 \xe4\xb8\xad\n", "caf\xc3\xa9 \xe4\xb8\xad\n"},  // UTF-8 passes
      {"latin-1 caf\xe9 \xff\n", "latin-1 caf\xe9 \xff\n"},          // other bytes pass
      {"\xc2\x9b and \x9b\n", "\xc2\x9b and \x9b\n"},                // C1 controls pass as bytes
      {"\x1f\x20\x7e\x7f\x80", "? ~?\x80"},                          // each side of both ranges
      {"", ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(shown_on_terminal(c.text), c.shown) << c.text;
}

TEST(ShownOnTerminal, ExactlyThirtyOneBytesChangeAndTheLengthStays) {
  std::string all;
  for (int b = 0; b < 256; ++b)
    all += static_cast<char>(b);
  std::string shown = shown_on_terminal(all);
  ASSERT_EQ(shown.size(), all.size());
  int changed = 0;
  for (int b = 0; b < 256; ++b) {
    if (shown[b] != all[b]) {
      ++changed;
      EXPECT_EQ(shown[b], '?') << b;
      EXPECT_TRUE(b < 0x20 || b == 0x7f) << b;
    }
  }
  EXPECT_EQ(changed, 31);
  EXPECT_EQ(shown['\n'], '\n');
  EXPECT_EQ(shown['\t'], '\t');
}

TEST(ShownOnTerminal, WideCharactersAsOnAConsole) {
  const struct {
    std::wstring text;
    std::wstring shown;
  } cases[] = {
      {L"\x03a9 \x4e2d\n", L"\x03a9 \x4e2d\n"},
      {L"\x1b[2J\r\x7f\t\n", L"?[2J??\t\n"},
      {L"\x009b\x2028\xd83d\xde00", L"\x009b\x2028\xd83d\xde00"},  // only C0 and DEL
      {L"\x011b\x0107", L"\x011b\x0107"},  // low bytes of wider characters do not count
  };
  for (const auto& c : cases)
    EXPECT_EQ(shown_on_terminal<wchar_t>(c.text), c.shown);
}

TEST(IsUtf8, Table) {
  const struct {
    std::string text;
    bool cut_at_end;
    bool utf8;
  } cases[] = {
      {"ascii\n", false, true},
      {"", false, true},
      {"\xce\xa9 \xe4\xb8\xad \xf0\x9f\x98\x80\n", false, true},  // 2, 3 and 4 bytes
      {"\xf4\x8f\xbf\xbf", false, true},                          // U+10FFFF
      {"caf\xe9\n", false, false},                                // Latin-1
      {"\x80", false, false},                                     // stray continuation
      {"\xc0\xaf", false, false},                                 // overlong '/'
      {"\xe0\x80\xaf", false, false},                             // overlong, 3 bytes
      {"\xf0\x80\x80\xaf", false, false},                         // overlong, 4 bytes
      {"\xed\xa0\x80", false, false},                             // a surrogate
      {"\xf4\x90\x80\x80", false, false},                         // past U+10FFFF
      {"\xf5\x80\x80\x80", false, false},
      {"\xe4\xb8", false, false},  // cut, not at a limit
      {"\xe4\xb8", true, true},    // cut at the limit
      {"\xe4", true, true},
      {"\xe4x", true, false},  // broken, then more
      {"\xff", true, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(is_utf8(c.text, c.cut_at_end), c.utf8) << c.text;
}

TEST(ShownAsUtf8, DecidedOnTheLineAsRead) {
  std::string e_acute = "\xc3\xa9";
  std::string acute40;
  for (int i = 0; i < 40; ++i)
    acute40 += e_acute;
  // 80 bytes without a space: the menu's wrap cuts after 75, inside a
  // character, and the line is UTF-8 all the same.
  std::string split = acute40 + "\n";
  ASSERT_FALSE(is_utf8(wrap_line(split), false));
  // A line cut by the reader's limit in the middle of a character.
  std::string cut(kFirstLineLength - 1, 'x');
  cut += "\xe4";
  const struct {
    std::string first_line;
    bool utf8;
  } cases[] = {
      {"\xce\xa9mega\n", true},
      {"caf\xe9\n", false},
      {split, true},
      {cut, true},
      {cut.substr(1), false},  // shorter: the file itself ends there
      {std::string(70, 'x') + " caf\xe9 " + std::string(20, 'y') + "\n", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(shown_as_utf8(c.first_line), c.utf8) << c.first_line;
}

}  // namespace

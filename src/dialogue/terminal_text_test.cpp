#include "dialogue/terminal_text.h"

#include <gtest/gtest.h>

#include <string>

#include "dialogue/first_line.h"
#include "dialogue/wrap.h"

namespace {

constexpr TerminalCharset kUtf8 = TerminalCharset::utf8;
constexpr TerminalCharset kOther = TerminalCharset::other;

TEST(ShownOnTerminal, ControlCharactersBecomeQuestionMarks) {
  const struct {
    std::string text;
    std::string in_utf8;   // as a terminal in a UTF-8 locale is shown it
    std::string in_other;  // in any other
  } cases[] = {
      {"plain text\n", "plain text\n", "plain text\n"},
      {"tab\tstays\n", "tab\tstays\n", "tab\tstays\n"},
      {"\x1b[31mred\x1b[0m\n", "?[31mred?[0m\n", "?[31mred?[0m\n"},  // an escape sequence
      {"\x1b]0;title\x07\n", "?]0;title?\n", "?]0;title?\n"},        // a window title, ended by BEL
      {"over\rwrite\n", "over?write\n", "over?write\n"},             // a carriage return mid-line
      {"back\bspace del\x7f\n", "back?space del?\n", "back?space del?\n"},
      {std::string("\x01\x1f\x0b\x0c", 4), "????", "????"},
      {"caf\xc3\xa9 \xe4\xb8\xad\n", "caf\xc3\xa9 \xe4\xb8\xad\n", "caf\xc3\xa9 \xe4\xb8\xad\n"},
      {"latin-1 caf\xe9 \xff\n", "latin-1 caf\xe9 \xff\n", "latin-1 caf\xe9 \xff\n"},
      // C1 controls: CSI as a UTF-8 character and as a lone byte. In UTF-8
      // the character is one '?' for its two bytes.
      {"\xc2\x9b"
       "2J and \x9b"
       "2J\n",
       "?2J and ?2J\n", "\xc2?2J and ?2J\n"},
      {"\xc2\x80\xc2\x9f\xc2\xa0", "??\xc2\xa0", "\xc2?\xc2?\xc2\xa0"},  // U+0080, U+009F, U+00A0
      // Letters whose later bytes lie in 0x80 to 0x9F: whole in UTF-8.
      {"\xc4\x80\xc4\x9b \xe2\x80\x94 \xf0\x9f\x98\x80",
       "\xc4\x80\xc4\x9b \xe2\x80\x94 \xf0\x9f\x98\x80", "\xc4?\xc4? \xe2?? \xf0???"},
      // Bytes 0x80 to 0x9F outside a valid character: a stray continuation,
      // an overlong form, a surrogate, a character cut short.
      {"\x80 \xc0\x80 \xed\xa0\x80 \xe2\x80", "? \xc0? \xed\xa0? \xe2?", "? \xc0? \xed\xa0? \xe2?"},
      {"\x1f\x20\x7e\x7f\x80\x9f\xa0", "? ~???\xa0", "? ~???\xa0"},  // each side of each range
      {"", "", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(shown_on_terminal(c.text, kUtf8), c.in_utf8) << c.text;
    EXPECT_EQ(shown_on_terminal(c.text, kOther), c.in_other) << c.text;
  }
}

TEST(ShownOnTerminal, ExactlySixtyThreeBytesChangeAndTheLengthStays) {
  // Each byte alone: the C0 controls but newline and tab, DEL, and 0x80 to
  // 0x9F, in either character set (alone, no byte is a UTF-8 character).
  std::string all;
  for (int b = 0; b < 256; ++b)
    all += static_cast<char>(b);
  for (TerminalCharset charset : {kUtf8, kOther}) {
    std::string shown;
    for (char c : all)
      shown += shown_on_terminal(std::string(1, c), charset);
    ASSERT_EQ(shown.size(), all.size());
    EXPECT_EQ(shown_on_terminal(all, charset), shown) << "the bytes in a row";
    int changed = 0;
    for (int b = 0; b < 256; ++b) {
      if (shown[b] != all[b]) {
        ++changed;
        EXPECT_EQ(shown[b], '?') << b;
        EXPECT_TRUE(b < 0x20 || b == 0x7f || (b >= 0x80 && b <= 0x9f)) << b;
      }
    }
    EXPECT_EQ(changed, 63);
    EXPECT_EQ(shown['\n'], '\n');
    EXPECT_EQ(shown['\t'], '\t');
  }
}

TEST(ShownOnTerminal, WideCharactersAsOnAConsole) {
  const struct {
    std::wstring text;
    std::wstring shown;
  } cases[] = {
      {L"\x03a9 \x4e2d\n", L"\x03a9 \x4e2d\n"},
      {L"\x1b[2J\r\x7f\t\n", L"?[2J??\t\n"},
      {L"\x009b\x2028\xd83d\xde00", L"?\x2028\xd83d\xde00"},  // C1, then none
      {L"\x0080\x009f\x00a0", L"??\x00a0"},
      {L"\x011b\x0107", L"\x011b\x0107"},  // low bytes of wider characters do not count
  };
  for (const auto& c : cases)
    EXPECT_EQ(shown_on_terminal(c.text), c.shown);
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

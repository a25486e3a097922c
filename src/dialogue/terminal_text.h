// What a terminal or a console is shown of the text pickcopy takes from
// others: first lines of files and file names.
#ifndef PICKCOPY_DIALOGUE_TERMINAL_TEXT_H_
#define PICKCOPY_DIALOGUE_TERMINAL_TEXT_H_

#include <string>
#include <string_view>
#include <type_traits>

// True for the characters a terminal acts on rather than shows: the C0
// controls but newline and tab, and DEL. An escape sequence, a carriage
// return or a bell in a file or a name would move the cursor, overwrite
// the menu or reach the terminal's own commands.
constexpr bool is_control_character(unsigned long c) {
  return (c < 0x20 && c != '\n' && c != '\t') || c == 0x7F;
}

// `text` with each control character replaced by '?', one for one, so that
// the text keeps its length and the menu its wrap. Bytes of UTF-8 and of
// other encodings pass as they are (no byte of a multibyte character in
// UTF-8 or an ANSI code page is below 0x80 but ASCII itself).
template <typename Char>
std::basic_string<Char> shown_on_terminal(std::basic_string_view<Char> text) {
  std::basic_string<Char> shown(text);
  for (Char& c : shown) {
    if (is_control_character(static_cast<std::make_unsigned_t<Char>>(c)))
      c = static_cast<Char>('?');
  }
  return shown;
}

inline std::string shown_on_terminal(std::string_view text) {
  return shown_on_terminal<char>(text);
}

// True when `text` is valid UTF-8: no stray continuation byte, no overlong
// form, no surrogate, nothing past U+10FFFF. With `cut_at_end`, a character
// whose first bytes end the text counts as whole: the text was cut there.
bool is_utf8(std::string_view text, bool cut_at_end);

// Whether a first line, as read_first_line gives it, is decoded as UTF-8
// on a console rather than in the ANSI code page: the line is UTF-8, where
// a line cut at the reader's limit may end inside a character.
bool shown_as_utf8(std::string_view first_line);

#endif  // PICKCOPY_DIALOGUE_TERMINAL_TEXT_H_

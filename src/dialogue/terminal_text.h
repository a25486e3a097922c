// What a terminal or a console is shown of the text pickcopy takes from
// others: first lines of files and file names.
#ifndef PICKCOPY_DIALOGUE_TERMINAL_TEXT_H_
#define PICKCOPY_DIALOGUE_TERMINAL_TEXT_H_

#include <string>
#include <string_view>

// True for the characters a terminal acts on rather than shows: the C0
// controls but newline and tab, DEL, and the C1 controls (U+0080 to
// U+009F). An escape sequence, a carriage return or a bell in a file or a
// name would move the cursor, overwrite the menu or reach the terminal's
// own commands; a C1 control such as CSI (U+009B) starts a command as ESC [
// does.
constexpr bool is_control_character(unsigned long c) {
  return (c < 0x20 && c != '\n' && c != '\t') || c == 0x7F || (c >= 0x80 && c <= 0x9F);
}

// The character set in which a terminal reads the bytes it is sent.
enum class TerminalCharset {
  utf8,   // U+0080 to U+009F are two bytes each, C2 80 to C2 9F
  other,  // each byte 0x80 to 0x9F is a C1 control
};

// `text` with each control character replaced by one '?', as a terminal
// reading `charset` would take the bytes. In UTF-8 that is U+0080 to
// U+009F, and any byte 0x80 to 0x9F that is not part of a valid UTF-8
// character; every other valid character passes whole, its later bytes
// 0x80 to 0x9F included, and so do other bytes that are not UTF-8. In any
// other character set each byte 0x80 to 0x9F is one. The C0 controls and
// DEL are single bytes in either, so only a C1 control in UTF-8 shortens
// the text (two bytes for one '?').
std::string shown_on_terminal(std::string_view text, TerminalCharset charset);

// The same for text decoded to UTF-16, as a console is given it: each code
// unit that is a control character is one '?', and every other passes
// (no code unit of a surrogate pair lies below U+D800).
inline std::wstring shown_on_terminal(std::wstring_view text) {
  std::wstring shown(text);
  for (wchar_t& c : shown) {
    if (is_control_character(static_cast<unsigned long>(c)))
      c = L'?';
  }
  return shown;
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

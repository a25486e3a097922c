#include "dialogue/terminal_text.h"

#include "dialogue/first_line.h"

namespace {

// How many bytes the character that `lead` begins takes; 0 for a byte that
// begins none (a continuation byte, C0 and C1, F5 to FF).
std::size_t character_length(unsigned char lead) {
  if (lead < 0x80)
    return 1;
  if (lead >= 0xC2 && lead <= 0xDF)
    return 2;
  if (lead >= 0xE0 && lead <= 0xEF)
    return 3;
  if (lead >= 0xF0 && lead <= 0xF4)
    return 4;
  return 0;
}

// Whether `next` may follow `lead`: the second byte's range rules out
// overlong forms, surrogates and code points past U+10FFFF.
bool may_follow(unsigned char lead, unsigned char next) {
  switch (lead) {
    case 0xE0:
      return next >= 0xA0 && next <= 0xBF;
    case 0xED:
      return next >= 0x80 && next <= 0x9F;
    case 0xF0:
      return next >= 0x90 && next <= 0xBF;
    case 0xF4:
      return next >= 0x80 && next <= 0x8F;
    default:
      return next >= 0x80 && next <= 0xBF;
  }
}

// The length of the valid UTF-8 character that `text` starts with; 0 where
// none starts there, a character cut short by the end of the text included.
std::size_t valid_character(std::string_view text) {
  auto lead = static_cast<unsigned char>(text[0]);
  std::size_t length = character_length(lead);
  if (length == 0 || length > text.size())
    return 0;
  for (std::size_t k = 1; k < length; ++k) {
    auto next = static_cast<unsigned char>(text[k]);
    if (k == 1 ? !may_follow(lead, next) : (next & 0xC0) != 0x80)
      return 0;
  }
  return length;
}

}  // namespace

std::string shown_on_terminal(std::string_view text, TerminalCharset charset) {
  std::string shown;
  shown.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    auto byte = static_cast<unsigned char>(text[i]);
    std::size_t length =
        charset == TerminalCharset::utf8 && byte >= 0x80 ? valid_character(text.substr(i)) : 0;
    if (length != 0) {
      // U+0080 to U+009F: C2 80 to C2 9F.
      bool control = byte == 0xC2 && static_cast<unsigned char>(text[i + 1]) <= 0x9F;
      shown += control ? std::string_view("?") : text.substr(i, length);
      i += length;
      continue;
    }
    shown += is_control_character(byte) ? '?' : text[i];
    ++i;
  }
  return shown;
}

bool is_utf8(std::string_view text, bool cut_at_end) {
  std::size_t i = 0;
  while (i < text.size()) {
    auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = character_length(lead);
    if (length == 0)
      return false;
    for (std::size_t k = 1; k < length; ++k) {
      if (i + k == text.size())
        return cut_at_end;
      auto next = static_cast<unsigned char>(text[i + k]);
      if (k == 1 ? !may_follow(lead, next) : (next & 0xC0) != 0x80)
        return false;
    }
    i += length;
  }
  return true;
}

bool shown_as_utf8(std::string_view first_line) {
  return is_utf8(first_line, first_line.size() == kFirstLineLength);
}

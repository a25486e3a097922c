#include "dialogue/wrap.h"

namespace {

// End of the row that starts at `start` in a text of `len` bytes.
std::size_t row_end(std::string_view text, std::size_t start) {
  const std::size_t len = text.size();
  std::size_t pos = start + kMenuWidth;
  if (pos > len)
    return len;
  // The byte just past the end of the text is not a space, and a space at
  // the very start of a row is never its break.
  while (pos > start && (pos == len || text[pos] != ' '))
    --pos;
  return pos > start ? pos : start + kMenuWidth;
}

}  // namespace

std::string wrap_line(std::string_view line) {
  if (line.size() <= kMenuWidth)
    return std::string(line);
  std::string text;
  std::size_t pos = 0;
  while (pos < line.size()) {
    std::size_t start = pos;
    pos = row_end(line, start);
    text.append(line.substr(start, pos - start));
    if (pos < line.size())
      text += kContinuation;
  }
  return text;
}

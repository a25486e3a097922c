// Fuzzes the wrap rule: taking out the inserted separators gives back the
// line, and no row is longer than 75 bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "dialogue/first_line.h"
#include "dialogue/wrap.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string line(reinterpret_cast<const char*>(data), size);
  line = line.substr(0, line.find('\0'));
  if (line.size() > kFirstLineLength)
    line.resize(kFirstLineLength);
  // A first line holds at most one newline, at its end.
  std::size_t newline = line.find('\n');
  if (newline != std::string::npos)
    line.resize(newline + 1);

  std::string text = wrap_line(line);
  if (line.size() <= kMenuWidth) {
    if (text != line)
      std::abort();
    return 0;
  }
  const std::string separator = "\n     ";
  std::string rebuilt;
  std::size_t start = 0;
  for (;;) {
    // The line has no newline but its last byte, so every "\n" followed by
    // five spaces is a separator.
    std::size_t at = text.find(separator, start);
    std::size_t end = at == std::string::npos ? text.size() : at;
    if (end - start > kMenuWidth)
      std::abort();
    rebuilt += text.substr(start, end - start);
    if (at == std::string::npos)
      break;
    start = at + separator.size();
  }
  if (rebuilt != line)
    std::abort();
  return 0;
}

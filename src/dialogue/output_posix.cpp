#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "dialogue/output.h"
#include "dialogue/terminal_text.h"
#include "dialogue/wrap.h"

namespace {

std::FILE* file_of(Stream stream) { return stream == Stream::output ? stdout : stderr; }

// A stream that is a terminal stays one for the whole run.
bool is_terminal(Stream stream) {
  static const bool output = isatty(STDOUT_FILENO) == 1;
  static const bool error = isatty(STDERR_FILENO) == 1;
  return stream == Stream::output ? output : error;
}

}  // namespace

void write_segments(Stream stream, std::initializer_list<Segment> segments) {
  const bool terminal = is_terminal(stream);
  std::string bytes;
  for (const Segment& segment : segments) {
    std::string laid_out =
        segment.kind == Kind::first_line ? wrap_line(segment.bytes) : std::string(segment.bytes);
    bytes += terminal && segment.kind != Kind::text ? shown_on_terminal(laid_out) : laid_out;
  }
  // A failure stays in the stream's error flag, which flush_stream reports.
  (void)std::fwrite(bytes.data(), 1, bytes.size(), file_of(stream));
}

SysError flush_stream(Stream stream) {
  std::FILE* file = file_of(stream);
  if (std::fflush(file) == 0 && !std::ferror(file))
    return {};
  return errno != 0 ? errno : EIO;
}

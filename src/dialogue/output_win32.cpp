#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>

#include "dialogue/output.h"
#include "dialogue/terminal_text.h"
#include "dialogue/wrap.h"
#include "path/native_win32.h"

namespace {

// A standard stream, and its console where it is one.
struct Channel {
  std::FILE* file;
  HANDLE console;  // null where the stream goes elsewhere
  bool failed;     // a write to the console failed
};

Channel open_channel(std::FILE* file, DWORD which) {
  HANDLE handle = GetStdHandle(which);
  DWORD mode;
  bool console =
      handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
  return {file, console ? handle : nullptr, false};
}

// A stream that is a console stays one for the whole run.
Channel& channel(Stream stream) {
  static Channel output = open_channel(stdout, STD_OUTPUT_HANDLE);
  static Channel error = open_channel(stderr, STD_ERROR_HANDLE);
  return stream == Stream::output ? output : error;
}

std::wstring decoded(UINT code_page, std::string_view bytes) {
  if (bytes.empty())
    return std::wstring();
  int size = static_cast<int>(bytes.size());
  int n = MultiByteToWideChar(code_page, 0, bytes.data(), size, nullptr, 0);
  std::wstring text(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0)
    MultiByteToWideChar(code_page, 0, bytes.data(), size, &text[0], n);
  return text;
}

// The bytes of `segment` where the stream is not a console: a first line
// as the menu lays it out, a name in its code page form.
std::string laid_out(const Segment& segment) {
  switch (segment.kind) {
    case Kind::first_line:
      return wrap_line(segment.bytes);
    case Kind::name:
      return code_page_form(std::string(segment.bytes));
    case Kind::text:
      break;
  }
  return std::string(segment.bytes);
}

std::wstring console_text(const Segment& segment) {
  switch (segment.kind) {
    case Kind::name:
      return shown_on_terminal(wide_name(std::string(segment.bytes)));
    case Kind::first_line:
      // The encoding is chosen on the line as read, then the wrap decoded:
      // a wrap that cuts a character does not make the line ANSI.
      return shown_on_terminal(
          decoded(shown_as_utf8(segment.bytes) ? CP_UTF8 : CP_ACP, laid_out(segment)));
    case Kind::text:
      break;
  }
  return decoded(CP_ACP, segment.bytes);
}

// The line ends of text mode, as the console had them from the C runtime.
void append_lines(std::wstring* out, const std::wstring& text) {
  for (wchar_t c : text) {
    if (c == L'\n')
      *out += L'\r';
    *out += c;
  }
}

bool write_console(HANDLE console, std::wstring_view text) {
  // Consoles before Windows 8 take no more than about 64 KiB in one call.
  constexpr std::size_t kMostAtOnce = 8192;
  while (!text.empty()) {
    std::size_t count = std::min(text.size(), kMostAtOnce);
    if (count < text.size() && IS_HIGH_SURROGATE(text[count - 1]))
      --count;  // a surrogate pair goes whole
    DWORD written = 0;
    if (!WriteConsoleW(console, text.data(), static_cast<DWORD>(count), &written, nullptr) ||
        written == 0)
      return false;
    text.remove_prefix(std::min<std::size_t>(written, text.size()));
  }
  return true;
}

}  // namespace

void write_segments(Stream stream, std::initializer_list<Segment> segments) {
  Channel& to = channel(stream);
  if (to.console == nullptr) {
    std::string bytes;
    for (const Segment& segment : segments)
      bytes += laid_out(segment);
    // A failure stays in the stream's error flag, which flush_stream reports.
    (void)std::fwrite(bytes.data(), 1, bytes.size(), to.file);
    return;
  }
  std::wstring text;
  for (const Segment& segment : segments)
    append_lines(&text, console_text(segment));
  // Anything the C runtime holds goes first; a failure stays in its error flag.
  (void)std::fflush(to.file);
  if (!write_console(to.console, text))
    to.failed = true;
}

SysError flush_stream(Stream stream) {
  Channel& to = channel(stream);
  if (std::fflush(to.file) != 0 || std::ferror(to.file))
    return errno != 0 ? errno : EIO;
  return to.failed ? SysError(EIO) : SysError();
}

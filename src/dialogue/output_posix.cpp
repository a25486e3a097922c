#include <langinfo.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
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

bool is_utf8_codeset(const char* codeset) {
  return strcasecmp(codeset, "UTF-8") == 0 || strcasecmp(codeset, "UTF8") == 0;
}

// True when `locale`, a locale's name, names the UTF-8 character set:
// "en_US.UTF-8", "C.utf8", "de_DE.UTF-8@euro".
bool names_utf8(const std::string& locale) {
  std::size_t dot = locale.find('.');
  if (dot == std::string::npos)
    return false;
  return is_utf8_codeset(locale.substr(dot + 1, locale.find('@', dot) - dot - 1).c_str());
}

// The locale the environment names for character types, as setlocale(3)
// reads it: LC_ALL, else LC_CTYPE, else LANG.
std::string named_locale() {
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0')
      return value;
  }
  return "";
}

// The character set in which the terminal reads what it is sent: the one
// of the user's locale, asked once. The program itself stays in the "C"
// locale: the locale's character type is taken only for this question and
// put back at once, so that nothing else it would change (how the answer is
// read, the numbers of the progress line, the system's messages) changes.
// A locale that is not installed here, as one a remote login brings along
// may not be, counts by its name: the terminal is the user's own.
TerminalCharset terminal_charset() {
  static const TerminalCharset charset = [] {
    const char* current = std::setlocale(LC_CTYPE, nullptr);
    std::string before = current != nullptr ? current : "C";
    bool utf8 = names_utf8(named_locale());
    if (std::setlocale(LC_CTYPE, "") != nullptr) {
      const char* codeset = nl_langinfo(CODESET);
      utf8 = codeset != nullptr && is_utf8_codeset(codeset);
    }
    (void)std::setlocale(LC_CTYPE, before.c_str());  // "C" or what was: always there
    return utf8 ? TerminalCharset::utf8 : TerminalCharset::other;
  }();
  return charset;
}

}  // namespace

void write_segments(Stream stream, std::initializer_list<Segment> segments) {
  const bool terminal = is_terminal(stream);
  std::string bytes;
  for (const Segment& segment : segments) {
    std::string laid_out =
        segment.kind == Kind::first_line ? wrap_line(segment.bytes) : std::string(segment.bytes);
    bytes += terminal && segment.kind != Kind::text
                 ? shown_on_terminal(laid_out, terminal_charset())
                 : laid_out;
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

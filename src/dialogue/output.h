// Everything pickcopy writes to its standard streams goes through here,
// each segment with its kind, so that text from files and names is shown
// safely where a person reads it, and through pipes and files every byte
// stays as it is.
//
// A first line is given as it was read and laid out here for the menu,
// wrapped (wrap.h) wherever it goes. Where a stream is a terminal, first
// lines and names have their control characters shown as '?' (see
// terminal_text.h). On Windows, where a stream is a console, each segment
// is written as UTF-16 with WriteConsoleW: pickcopy's own text and the
// system's in the ANSI code page, names as the system spells them, first
// lines as UTF-8 where the line as read is UTF-8 (shown_as_utf8) and in the
// ANSI code page otherwise; elsewhere a name is written in its code page
// form (path/native_win32.h).
#ifndef PICKCOPY_DIALOGUE_OUTPUT_H_
#define PICKCOPY_DIALOGUE_OUTPUT_H_

#include <initializer_list>
#include <string_view>

#include "support/sys_error.h"

enum class Stream { output, error };

enum class Kind {
  text,        // pickcopy's own words, or the system's
  first_line,  // a candidate's first line, as read_first_line gives it
  name,        // a file name, in the form the dialogue holds it
};

struct Segment {
  Kind kind;
  std::string_view bytes;
};

// Writes the segments one after the other, as one write where the stream
// holds nothing back.
void write_segments(Stream stream, std::initializer_list<Segment> segments);

inline void write_text(Stream stream, std::string_view text) {
  write_segments(stream, {{Kind::text, text}});
}

// Hands what the stream holds back to the system. An error (errno's code)
// when anything written to it since the start has been lost.
SysError flush_stream(Stream stream);

#endif  // PICKCOPY_DIALOGUE_OUTPUT_H_

// The first line of a candidate file, as text-mode reading delivers it.
#ifndef PICKCOPY_DIALOGUE_FIRST_LINE_H_
#define PICKCOPY_DIALOGUE_FIRST_LINE_H_

#include <cstddef>
#include <string>

// At most this many bytes of a first line are read: a longer line is shown
// cut there, without its newline, so that the next entry continues on the
// same line.
constexpr std::size_t kFirstLineLength = 499;

struct File;  // an open file (copy/file_ops.h)

// Reads the first line of the open regular file `file`, from its start,
// into `*line`: up to and including its newline, at most kFirstLineLength
// bytes, with a carriage return before a newline dropped and a byte 0x1A
// ending the file. The text ends at a zero byte. Returns false when the
// file yields no byte at all or cannot be read.
bool read_first_line(File& file, std::string* line);

#endif  // PICKCOPY_DIALOGUE_FIRST_LINE_H_

// Wrapping of a long first line for the menu.
#ifndef PICKCOPY_DIALOGUE_WRAP_H_
#define PICKCOPY_DIALOGUE_WRAP_H_

#include <string>
#include <string_view>

// Lines of at most this many bytes, newline included, are shown unchanged;
// a longer one is wrapped into rows of at most this many, so that an
// entry with its "A) " label and the continuation lines' five spaces fit
// an 80-column screen.
constexpr std::size_t kMenuWidth = 75;

// What joins two rows of a wrapped line: a newline and the five spaces
// that indent a continuation line.
constexpr std::string_view kContinuation = "\n     ";

// The menu's text for a first line. A longer line is cut into rows of at
// most 75 bytes, each broken at its last space within reach (the space
// starts the next row) or cut hard where there is none; the rows are
// joined by a newline and five spaces.
std::string wrap_line(std::string_view line);

#endif  // PICKCOPY_DIALOGUE_WRAP_H_

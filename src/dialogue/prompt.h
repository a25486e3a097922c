// Reading and checking the user's answer.
#ifndef PICKCOPY_DIALOGUE_PROMPT_H_
#define PICKCOPY_DIALOGUE_PROMPT_H_

#include <cstdio>
#include <string>
#include <string_view>

#include "support/sys_error.h"

// A longer input line is read in chunks of this many bytes, each answered
// on its own: a line of 400 letters gives three "incorrect response"s
// before the next line is read.
constexpr std::size_t kChunkLength = 169;
// Only this many bytes of an answer are looked at ("banana" is "banan");
// only the first decides.
constexpr std::size_t kAnswerLength = 5;

// Reads one chunk of a line from `in`: up to and including a newline, or
// kChunkLength bytes, whichever comes first. Otherwise kEndOfInput, or the
// errno of a failed read.
SysError read_chunk(std::FILE* in, std::string* chunk);

// Takes the first word of `chunk` (up to kAnswerLength bytes, after any
// leading white space; the text ends at a zero byte). Returns false when
// the chunk is blank.
bool parse_answer(std::string_view chunk, std::string* answer);

// Writes `prompt` to standard error and reads chunks from standard input
// until one holds an answer; otherwise what read_chunk ended with.
SysError prompt_for(const char* prompt, std::string* answer);

// The menu index that `answer` names among `entries` entries: its first
// letter, either case, 'a' for 0. -1 when it names none.
int choice_index(std::string_view answer, int entries);

#endif  // PICKCOPY_DIALOGUE_PROMPT_H_

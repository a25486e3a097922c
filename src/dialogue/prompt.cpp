#include "dialogue/prompt.h"

#include <cerrno>

#include "dialogue/console.h"
#include "dialogue/output.h"

namespace {

// White space in the "C" locale.
bool is_blank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

SysError read_chunk(std::FILE* in, std::string* chunk) {
  chunk->clear();
  errno = 0;
  while (chunk->size() < kChunkLength) {
    int c = std::getc(in);
    if (c == EOF && std::ferror(in) && (errno == EAGAIN || errno == EWOULDBLOCK) &&
        wait_for_input(in)) {
      std::clearerr(in);
      continue;
    }
    if (c == EOF)
      break;
    chunk->push_back(static_cast<char>(c));
    if (c == '\n')
      return {};
  }
  // What was read before the end or a failure is a chunk of its own; the
  // next read meets the end or the failure again.
  if (!chunk->empty())
    return {};
  return std::ferror(in) && errno != 0 ? SysError(errno) : SysError(kEndOfInput);
}

bool parse_answer(std::string_view chunk, std::string* answer) {
  chunk = chunk.substr(0, chunk.find('\0'));
  std::size_t first = 0;
  while (first < chunk.size() && is_blank(chunk[first]))
    ++first;
  std::size_t last = first;
  while (last < chunk.size() && last - first < kAnswerLength && !is_blank(chunk[last]))
    ++last;
  answer->assign(chunk.substr(first, last - first));
  return !answer->empty();
}

SysError prompt_for(const char* prompt, std::string* answer) {
  std::string chunk;
  do {
    write_text(Stream::error, prompt);
    if (SysError err = read_chunk(stdin, &chunk))
      return err;
  } while (!parse_answer(chunk, answer));
  return {};
}

int choice_index(std::string_view answer, int entries) {
  if (answer.empty())
    return -1;
  int c = static_cast<unsigned char>(answer[0]);
  if (c >= 'A' && c <= 'Z')
    c += 'a' - 'A';
  int index = c - 'a';
  return index >= 0 && index < entries ? index : -1;
}

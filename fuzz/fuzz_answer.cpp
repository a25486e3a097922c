// Fuzzes the answer parsing: input of any bytes, read in chunks as the
// dialogue reads it, never gives an answer longer than five bytes, with
// blanks, or a choice outside the entries.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "dialogue/prompt.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0)
    return 0;
  const int entries = data[0] % 27;
  std::FILE* in = fmemopen(const_cast<std::uint8_t*>(data + 1), size - 1, "rb");
  if (in == nullptr)
    return 0;
  std::string chunk;
  std::string answer;
  std::size_t consumed = 0;
  while (!read_chunk(in, &chunk)) {
    consumed += chunk.size();
    if (chunk.size() > kChunkLength || chunk.find('\n') < chunk.size() - 1)
      std::abort();
    if (!parse_answer(chunk, &answer))
      continue;
    if (answer.empty() || answer.size() > kAnswerLength ||
        answer.find_first_of(" \t\n\v\f\r") != std::string::npos ||
        answer.find('\0') != std::string::npos)
      std::abort();
    int index = choice_index(answer, entries);
    if (index < -1 || index >= entries)
      std::abort();
    int letter = static_cast<unsigned char>(answer[0]) | 0x20;
    if (index >= 0 && letter != 'a' + index)
      std::abort();
  }
  std::fclose(in);
  if (consumed != size - 1)
    std::abort();  // every byte was read, none twice
  return 0;
}

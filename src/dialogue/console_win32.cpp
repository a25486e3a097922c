#include <io.h>

#include <cstdio>

#include "dialogue/console.h"

// The arguments reach main as typed: the C runtime must not expand
// wildcards in them, since each pattern is expanded here, 25 names at most.
extern "C" {
int _dowildcard = 0;
}

void set_up_console() {
  if (_isatty(_fileno(stdout)))
    std::setvbuf(stdout, nullptr, _IONBF, 0);
  else
    std::setvbuf(stdout, nullptr, _IOFBF, BUFSIZ);
}

// Windows hands a console program no non-blocking standard input.
bool wait_for_input(std::FILE*) { return false; }

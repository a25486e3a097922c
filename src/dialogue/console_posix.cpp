#include <unistd.h>

#include <cstdio>

#include "dialogue/console.h"

void set_up_console() {
  if (isatty(STDOUT_FILENO))
    std::setvbuf(stdout, nullptr, _IONBF, 0);
  else
    std::setvbuf(stdout, nullptr, _IOFBF, BUFSIZ);
}

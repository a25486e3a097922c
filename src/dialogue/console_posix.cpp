#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "dialogue/console.h"

void set_up_console() {
  if (isatty(STDOUT_FILENO))
    std::setvbuf(stdout, nullptr, _IONBF, 0);
  else
    std::setvbuf(stdout, nullptr, _IOFBF, BUFSIZ);
}

bool error_stream_is_terminal() { return isatty(STDERR_FILENO) != 0; }

bool wait_for_input(std::FILE* in) {
  struct pollfd ready = {fileno(in), POLLIN, 0};
  int n;
  do
    n = poll(&ready, 1, -1);
  while (n < 0 && errno == EINTR);
  return n > 0;
}

const char* const* program_arguments(int*, char** argv) { return argv; }

bool asks_for_help(const std::string& arg) { return arg == "--help"; }

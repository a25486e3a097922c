#include "choices/fatal.h"

#include <cstdio>
#include <cstdlib>

void report_error(const char* message, const char* detail) {
  std::fprintf(stderr, "pickcopy: %s %s\n", message, detail);
}

void fatal(const char* message, const char* detail) {
  report_error(message, detail);
  std::exit(1);
}

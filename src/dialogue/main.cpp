// pickcopy: copy one of a set of files, chosen from a menu of their first
// lines, onto a target file.
#include <new>

#include "choices/fatal.h"
#include "dialogue/console.h"
#include "dialogue/dialogue.h"

int main(int argc, char** argv) {
  set_up_console();
  try {
    return run_pickcopy(program_arguments(argc, argv));
  } catch (const std::bad_alloc&) {
    fatal("out of storage", "");
  }
}

// pickcopy: copy one of a set of files, chosen from a menu of their first
// lines, onto a target file.
#include <new>

#include "dialogue/console.h"
#include "dialogue/dialogue.h"
#include "dialogue/report.h"

int main(int argc, char** argv) {
  set_up_console();
  try {
    const char* const* args = program_arguments(&argc, argv);
    return run_pickcopy(argc, args);
  } catch (const std::bad_alloc&) {
    // Whatever ran out of memory (a name, the list, a line), nothing has
    // been changed yet but what the copy reports itself.
    report_out_of_storage();
    return 1;
  }
}

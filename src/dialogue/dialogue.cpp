#include "dialogue/dialogue.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "choices/choice_list.h"
#include "choices/find_match.h"
#include "choices/sort_choices.h"
#include "copy/copy_file.h"
#include "dialogue/console.h"
#include "dialogue/first_line.h"
#include "dialogue/progress.h"
#include "dialogue/prompt.h"
#include "dialogue/wrap.h"
#include "support/report.h"

namespace {

// No pattern gives more names than this, and no more entries are shown:
// the letters A to Y. A pattern that matches more gives the first 25 its
// directory search delivers, and the menu the first 25 in menu order.
constexpr int kMaxNames = 25;
// Below this many entries an empty line precedes each prompt, so that a
// short menu stands apart from it; a long one keeps the screen's lines.
constexpr int kSpacedEntries = 23;

void print_usage() {
  std::fputs(
      "Usage:\n"
      "\n"
      "    pickcopy  file-name  choices\n"
      "\n"
      "file-name is the file that will be modified by copying one of\n"
      "a set of files into it.\n"
      "choices is a wild-card specification indicating the set of files\n"
      "from which the user makes a selection.  The first line of each such\n"
      "file is displayed together with a letter on the screen.  The user\n"
      "chooses from this menu.\n",
      stderr);
}

// Prepends the first kMaxNames names of each pattern, in the order the
// directory search delivers them.
void collect(const std::vector<std::string>& patterns, ChoiceList* choices) {
  std::string name;
  for (const std::string& pattern : patterns) {
    MatchSearchPtr search = find_match(pattern);
    for (int given = 0; search && find_match(*search, &name); ++given) {
      if (given == kMaxNames)
        break;  // the 26th name is dropped and the search abandoned
      choices->head = add_choice(choices->head, name);
    }
  }
}

// Shows up to kMaxNames entries and returns their names in menu order.
std::vector<const char*> show_menu(const ChoiceNode* list) {
  std::vector<const char*> names;
  std::string line;
  for (; list != nullptr && names.size() < kMaxNames; list = list->next) {
    if (!read_first_line(list->name, &line))
      line = "can't open\n";
    char letter = static_cast<char>('A' + names.size());
    std::fprintf(stdout, "%c) %s", letter, wrap_line(line).c_str());
    names.push_back(list->name);
  }
  return names;
}

// Asks until the answer names an entry; -1 at the end of input.
int ask(int entries) {
  std::string answer;
  for (;;) {
    if (entries < kSpacedEntries)
      std::fputs("\n", stdout);
    int status = prompt_for("please indicate your choice ", &answer);
    if (status != 0) {
      std::fputs("\n", stderr);
      report_failure("standard input",
                     status == kEndOfInput ? "end of input" : std::strerror(status));
      return -1;
    }
    int index = choice_index(answer, entries);
    if (index >= 0)
      return index;
    std::fputs("incorrect response\n", stdout);
  }
}

// The copy, with a line of its progress where standard error is a
// terminal; the line is gone again before anything else is written.
std::optional<CopyFailure> copy_with_progress(const std::string& source,
                                              const std::string& target) {
  if (!error_stream_is_terminal())
    return copy_file(source, target);
  auto start = std::chrono::steady_clock::now();
  ProgressLine line(
      [start] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      },
      [](const std::string& text) {
        std::fputs(text.c_str(), stderr);
        std::fflush(stderr);
      });
  std::optional<CopyFailure> failure = copy_file(source, target, &line);
  line.finish();
  return failure;
}

}  // namespace

int run_pickcopy(const std::vector<std::string>& args) {
  if (args.size() < 3) {
    print_usage();
    return 1;
  }
  const std::string& target = args[1];
  ChoiceList choices;
  collect(std::vector<std::string>(args.begin() + 2, args.end()), &choices);
  choices.head = sort_choices(choices.head);
  std::vector<const char*> names = show_menu(choices.head);

  int index = ask(static_cast<int>(names.size()));
  if (index < 0)
    return 1;
  const std::string command = std::string("copy ") + names[index] + " " + target + "\n";
  std::fputs("The command is: ", stdout);
  std::fwrite(command.data(), 1, command.size(), stdout);
  // The echo must be out before anything the copy reports, and a dialogue
  // that could not be shown must not go on to change a file.
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    report_failure("standard output", std::strerror(errno));
    return 1;
  }
  std::optional<CopyFailure> failure = copy_with_progress(names[index], target);
  if (failure) {
    report_failure(failure->file, failure->reason);
    return 1;
  }
  return 0;
}

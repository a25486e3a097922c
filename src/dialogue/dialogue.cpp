#include "dialogue/dialogue.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "choices/choice_list.h"
#include "choices/find_match.h"
#include "choices/sort_choices.h"
#include "copy/copy_file.h"
#include "dialogue/first_line.h"
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

// Prepends the first kMaxNames names of `pattern`, in the order its search
// delivers them. `name` is the buffer each name is fetched into.
void collect_pattern(const std::string& pattern, std::string* name, ChoiceList* choices) {
  MatchSearchPtr search;
  switch (find_match(pattern, &search)) {
    case MatchStart::kNothing:
      break;
    case MatchStart::kItself:
      // The arguments last as long as the list: the node keeps the
      // pattern's own text.
      add_lasting_choice(choices, pattern.c_str());
      break;
    case MatchStart::kSearch:
      for (int given = 0; find_match(*search, name); ++given) {
        if (given == kMaxNames)
          break;  // the 26th name is dropped and the search abandoned
        add_choice(choices, *name);
      }
      break;
  }
}

// Collects the names of the patterns from `first` on; each pattern's
// search is released before the next begins.
void collect(std::vector<std::string>::const_iterator first,
             std::vector<std::string>::const_iterator last, ChoiceList* choices) {
  std::string name;
  for (; first != last; ++first)
    collect_pattern(*first, &name, choices);
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

}  // namespace

int run_pickcopy(const std::vector<std::string>& args) {
  if (args.size() < 3) {
    print_usage();
    return 1;
  }
  const std::string& target = args[1];
  ChoiceList choices;
  collect(args.begin() + 2, args.end(), &choices);
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
  CopyFailure failure;
  if (!copy_file(names[index], target, &failure)) {
    report_failure(failure.file, failure.reason);
    return 1;
  }
  return 0;
}

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
#include "copy/file_ops.h"
#include "dialogue/console.h"
#include "dialogue/first_line.h"
#include "dialogue/output.h"
#include "dialogue/progress.h"
#include "dialogue/prompt.h"
#include "dialogue/report.h"

namespace {

// No pattern gives more names than this, and no more entries are shown:
// the letters A to Y. A pattern that matches more gives the first 25 its
// folder search delivers, and the menu the first 25 in menu order.
constexpr int kMaxNames = 25;
// Below this many entries an empty line precedes each prompt, so that a
// short menu stands apart from it; a long one keeps the screen's lines.
constexpr int kSpacedEntries = 23;

void print_usage(Stream stream) {
  write_text(stream,
             "Usage:\n"
             "\n"
             "    pickcopy  file-name  choices\n"
             "\n"
             "file-name is the file that will be modified by copying one of\n"
             "a set of files into it.\n"
             "choices is a wild-card specification indicating the set of files\n"
             "from which the user makes a selection.  The first line of each such\n"
             "file is displayed together with a letter on the screen.  The user\n"
             "chooses from this menu.\n");
}

// The usage text and what only --help adds to it, the same on every
// platform.
void print_help() {
  print_usage(Stream::output);
  write_text(Stream::output,
             "pickcopy --version shows the version.\n"
             "The manual page pickcopy(1) tells more.\n"
             "Each pattern gives at most 25 names.\n");
}

// The words for an error of the standard streams.
std::string words_for(SysError err) {
  return err.code == kEndOfInput ? "end of input" : std::strerror(err.code);
}

// The status of a run that asked for help or the version: the answer went
// to standard output, whose failure is the run's.
int request_answered() {
  if (SysError err = flush_stream(Stream::output)) {
    report_failure("standard output", words_for(err));
    return 1;
  }
  return 0;
}

// Prepends the first kMaxNames names of `pattern`, in the order its search
// delivers them. `name` and `ordered_as` are the buffers each name and the
// bytes it is ordered by are fetched into.
void collect_pattern(const char* pattern, std::string* name, std::string* ordered_as,
                     ChoiceList* choices) {
  MatchSearchPtr search;
  switch (find_match(pattern, &search)) {
    case MatchStart::kNothing:
      break;
    case MatchStart::kItself:
      // The arguments last as long as the list: the node keeps the
      // pattern's own text.
      add_lasting_choice(choices, pattern);
      break;
    case MatchStart::kSearch:
      for (int given = 0; find_match(*search, name, ordered_as); ++given) {
        if (given == kMaxNames)
          break;  // the 26th name is dropped and the search abandoned
        add_choice(choices, *name, *ordered_as);
      }
      break;
  }
}

// Collects the names of the patterns from `first` on; each pattern's
// search is released before the next begins.
void collect(const char* const* first, const char* const* last, ChoiceList* choices) {
  std::string name;
  std::string ordered_as;
  for (; first != last; ++first)
    collect_pattern(*first, &name, &ordered_as, choices);
}

// Shows up to kMaxNames entries and returns them in menu order. Each file
// is held from the reading of its first line on, so that the copy reads
// the very file whose line was shown; an entry that could not be held
// keeps why, and is never opened again as something else.
std::vector<Choice> show_menu(const ChoiceNode* list) {
  std::vector<Choice> shown;
  shown.reserve(kMaxNames);
  std::string line;
  for (; list != nullptr && shown.size() < kMaxNames; list = list->next) {
    const char label[] = {static_cast<char>('A' + shown.size()), ')', ' '};
    Choice& entry = shown.emplace_back();
    entry.name = list->name;
    entry.error = hold_source(entry.name, &entry.held);
    if (!entry.error && read_first_line(*entry.held.file, &line))
      write_segments(Stream::output, {{Kind::text, std::string_view(label, sizeof label)},
                                      {Kind::first_line, line}});
    else
      write_text(Stream::output, std::string(label, sizeof label) + "can't open\n");
  }
  return shown;
}

// Asks until the answer names an entry, and gives its index; reported
// where standard input ends or fails first.
SysError ask(int entries, int* index) {
  std::string answer;
  for (;;) {
    if (entries < kSpacedEntries)
      write_text(Stream::output, "\n");
    if (SysError err = prompt_for("please indicate your choice ", &answer)) {
      write_text(Stream::error, "\n");
      report_failure("standard input", words_for(err));
      return err;
    }
    *index = choice_index(answer, entries);
    if (*index >= 0)
      return {};
    write_text(Stream::output, "incorrect response\n");
  }
}

// The copy, with a line of its progress where standard error is a
// terminal; the line is gone again before anything else is written, and
// before the program ends on a signal.
std::optional<CopyFailure> copy_with_progress(const std::vector<Choice>& shown, int chosen,
                                              const std::string& target) {
  auto index = static_cast<std::size_t>(chosen);
  if (!error_stream_is_terminal())
    return copy_file(shown, index, target);
  auto start = std::chrono::steady_clock::now();
  ProgressLine line(
      [start] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      },
      error_stream_columns, [](const std::string& text) { write_text(Stream::error, text); });
  write_on_signal(&line.erasure());
  std::optional<CopyFailure> failure = copy_file(shown, index, target, &line);
  line.finish();
  write_on_signal(nullptr);
  return failure;
}

}  // namespace

int run_pickcopy(int argc, const char* const* args) {
  if (argc == 2 && asks_for_help(args[1])) {
    print_help();
    return request_answered();
  }
  if (argc == 2 && std::strcmp(args[1], "--version") == 0) {
    write_text(Stream::output, "pickcopy " PICKCOPY_VERSION "\n");
    return request_answered();
  }
  if (argc < 3) {
    print_usage(Stream::error);
    return 1;
  }
  const std::string target = args[1];
  ChoiceList choices;
  collect(args + 2, args + argc, &choices);
  choices.head = sort_choices(choices.head);
  std::vector<Choice> shown = show_menu(choices.head);

  int index = 0;
  if (ask(static_cast<int>(shown.size()), &index))
    return 1;
  write_segments(Stream::output, {{Kind::text, "The command is: copy "},
                                  {Kind::name, shown[index].name},
                                  {Kind::text, " "},
                                  {Kind::name, target},
                                  {Kind::text, "\n"}});
  // The echo must be out before anything the copy reports, and a dialogue
  // that could not be shown must not go on to change a file.
  if (SysError err = flush_stream(Stream::output)) {
    report_failure("standard output", words_for(err));
    return 1;
  }
  std::optional<CopyFailure> failure = copy_with_progress(shown, index, target);
  if (failure) {
    report_failure(failure->file, failure->reason, failure->other, failure->after);
    return 1;
  }
  return 0;
}

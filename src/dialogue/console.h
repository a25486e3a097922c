// Set-up of the standard streams for the dialogue.
#ifndef PICKCOPY_DIALOGUE_CONSOLE_H_
#define PICKCOPY_DIALOGUE_CONSOLE_H_

#include <cstddef>
#include <cstdio>
#include <string>

// On a terminal standard output holds nothing back, so each entry is on
// the screen before the prompt on standard error; redirected, it is fully
// buffered.
void set_up_console();

// The program's arguments as the dialogue takes them, in place of main's
// `argc` and `argv`, and lasting as long as the program: on POSIX `argv`
// itself, not copied; on Windows read once from the wide command line, so
// that names outside the ANSI code page survive.
const char* const* program_arguments(int* argc, char** argv);

// True when standard error is a terminal (a console on Windows), where a
// long copy shows its progress.
bool error_stream_is_terminal();

// The width of the terminal (the console's screen buffer on Windows) that
// standard error writes to, in columns, as it is now; 0 where it is not
// known.
std::size_t error_stream_columns();

// True when `arg`, given as the only argument, asks for the usage text on
// standard output: "--help", and on Windows "/?" as well.
bool asks_for_help(const std::string& arg);

// After a read from `in` failed with EAGAIN (a caller handed over a
// non-blocking pipe), waits until input is there. False where that cannot
// be waited for.
bool wait_for_input(std::FILE* in);

// Bytes for the handler of a signal to write as they are: each is in place
// before `length` counts it.
struct SignalText {
  static constexpr std::size_t kRoom = 160;
  char bytes[kRoom];
  volatile std::size_t length = 0;
};

// While `text` is set, an interrupt, a termination or a hang-up (Ctrl-C,
// Ctrl-Break or the console closing on Windows) first writes it to
// standard error, then ends the program as it would have ended. Null:
// nothing more is written.
void write_on_signal(const SignalText* text);

#endif  // PICKCOPY_DIALOGUE_CONSOLE_H_

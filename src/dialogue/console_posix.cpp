#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "dialogue/console.h"

void set_up_console() {
  // Called before any output, where setvbuf cannot fail.
  if (isatty(STDOUT_FILENO))
    (void)std::setvbuf(stdout, nullptr, _IONBF, 0);
  else
    (void)std::setvbuf(stdout, nullptr, _IOFBF, BUFSIZ);
}

bool error_stream_is_terminal() { return isatty(STDERR_FILENO) != 0; }

std::size_t error_stream_columns() {
  struct winsize size {};
  return ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

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

namespace {

constexpr int kEnding[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kEndingCount = sizeof kEnding / sizeof kEnding[0];

const SignalText* volatile g_text = nullptr;
struct sigaction g_before[kEndingCount];

void write_and_end(int sig) {
  const SignalText* text = g_text;
  if (text != nullptr && text->length > 0 && write(STDERR_FILENO, text->bytes, text->length) < 0) {
    // Nothing more can be done about the screen.
  }
  (void)signal(sig, SIG_DFL);  // SIGINT, SIGTERM and SIGHUP all take it
  (void)raise(sig);
}

}  // namespace

void write_on_signal(const SignalText* text) {
  if (text != nullptr && g_text == nullptr) {
    struct sigaction action {};
    action.sa_handler = write_and_end;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < kEndingCount; ++i) {
      sigaction(kEnding[i], nullptr, &g_before[i]);
      if (g_before[i].sa_handler != SIG_IGN)
        sigaction(kEnding[i], &action, nullptr);
    }
  } else if (text == nullptr && g_text != nullptr) {
    for (int i = 0; i < kEndingCount; ++i)
      sigaction(kEnding[i], &g_before[i], nullptr);
  }
  g_text = text;
}

#include <io.h>
#include <windows.h>

#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "dialogue/console.h"
#include "path/native_win32.h"

// The arguments reach main as typed: the C runtime must not expand
// wildcards in them, since each pattern is expanded here, 25 names at most.
extern "C" {
int _dowildcard = 0;
}

namespace {

const SignalText* volatile g_text = nullptr;

// Ctrl-C, Ctrl-Break or closing the console ends the program as Windows
// console programs end on Ctrl-C, whatever the runtime does, after the
// text set to be written then.
BOOL WINAPI end_on_interrupt(DWORD) {
  const SignalText* text = g_text;
  DWORD written = 0;
  if (text != nullptr && text->length > 0)
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text->bytes, static_cast<DWORD>(text->length),
              &written, nullptr);
  ExitProcess(0xC000013A);
}

}  // namespace

void set_up_console() {
  SetConsoleCtrlHandler(end_on_interrupt, TRUE);
  // Called before any output, where setvbuf cannot fail.
  if (_isatty(_fileno(stdout)))
    (void)std::setvbuf(stdout, nullptr, _IONBF, 0);
  else
    (void)std::setvbuf(stdout, nullptr, _IOFBF, BUFSIZ);
}

bool error_stream_is_terminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

// Lines wrap at the width of the screen buffer, not of the window.
std::size_t error_stream_columns() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info) || info.dwSize.X < 0)
    return 0;
  return static_cast<std::size_t>(info.dwSize.X);
}

// Windows hands a console program no non-blocking standard input.
bool wait_for_input(std::FILE*) { return false; }

// The C runtime's argv went through the ANSI code page, which loses
// characters and cuts names in two; only the wide command line is taken.
const char* const* program_arguments(int* argc, char**) {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr)
    throw std::bad_alloc();  // it has nothing else to fail on
  // Kept for the rest of the run, as argv is; the pointers are taken once
  // every string is in place.
  static std::vector<std::string> args;
  static std::vector<const char*> pointers;
  args.reserve(count);
  for (int i = 0; i < count; ++i)
    args.push_back(narrow_name(wide[i]));
  LocalFree(wide);
  pointers.reserve(args.size() + 1);
  for (const std::string& arg : args)
    pointers.push_back(arg.c_str());
  pointers.push_back(nullptr);
  *argc = count;
  return pointers.data();
}

bool asks_for_help(const std::string& arg) { return arg == "--help" || arg == "/?"; }

void write_on_signal(const SignalText* text) { g_text = text; }

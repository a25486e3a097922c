// The one form in which pickcopy reports a failure on standard error.
#ifndef PICKCOPY_CHOICES_FATAL_H_
#define PICKCOPY_CHOICES_FATAL_H_

// Writes "pickcopy: <message> <detail>\n" to standard error.
void report_error(const char* message, const char* detail);

// Reports the failure and ends the program with status 1.
[[noreturn]] void fatal(const char* message, const char* detail);

#endif  // PICKCOPY_CHOICES_FATAL_H_

// The one form in which pickcopy reports a failure on standard error.
#ifndef PICKCOPY_DIALOGUE_REPORT_H_
#define PICKCOPY_DIALOGUE_REPORT_H_

#include <string>

// Writes "pickcopy: <what>: <reason><other><after>\n": what failed (a
// file, "standard input") and why, in the system's words or pickcopy's
// own, where these may name another file (`other`). The files are written
// as names (see dialogue/output.h): on a terminal their control characters
// show as '?'.
void report_failure(const std::string& what, const std::string& reason,
                    const std::string& other = {}, const std::string& after = {});

// Writes "pickcopy: out of storage \n", the message of a run that ran out
// of memory, with the space before its newline that scripts have seen.
void report_out_of_storage();

#endif  // PICKCOPY_DIALOGUE_REPORT_H_

#include "dialogue/report.h"

#include <cstdio>

#include "dialogue/output.h"

void report_failure(const std::string& what, const std::string& reason, const std::string& other,
                    const std::string& after) {
  write_segments(Stream::error, {{Kind::text, "pickcopy: "},
                                 {Kind::name, what},
                                 {Kind::text, ": "},
                                 {Kind::text, reason},
                                 {Kind::name, other},
                                 {Kind::text, after},
                                 {Kind::text, "\n"}});
}

// Straight to the C runtime: with memory gone, nothing may be allocated on
// the way, and the text is pickcopy's own.
void report_out_of_storage() {
  // Nothing more can be said where standard error fails too.
  (void)std::fputs("pickcopy: out of storage \n", stderr);
}

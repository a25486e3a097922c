#include "support/report.h"

#include <cstdio>

namespace {

void report(const char* message, const char* detail) {
  std::fprintf(stderr, "pickcopy: %s %s\n", message, detail);
}

}  // namespace

void report_failure(const std::string& what, const std::string& reason) {
  report((what + ":").c_str(), reason.c_str());
}

void report_out_of_storage() { report("out of storage", ""); }

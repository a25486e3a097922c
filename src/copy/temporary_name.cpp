#include <cstdio>
#include <random>

#include "copy/file_ops.h"

std::string temporary_name(const std::string& directory) {
  // Creation is exclusive and retried on a clash, so the name need only be
  // unlikely to be taken, not secret.
  static std::mt19937_64 generator(std::random_device{}());
  char suffix[24];
  std::snprintf(suffix, sizeof suffix, "%016llx",
                static_cast<unsigned long long>(generator()));
  return directory + ".pickcopy-" + suffix;
}

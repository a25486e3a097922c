#include <chrono>
#include <cstdint>
#include <cstdio>

#include "copy/file_ops.h"

namespace {

// SplitMix64: spreads a seed's bits over the whole word.
std::uint64_t mix(std::uint64_t x) {
  x += 0x9e3779b97f4a7c15u;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9u;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebu;
  return x ^ (x >> 31);
}

}  // namespace

std::string temporary_name(const std::string& directory) {
  // Creation is exclusive and retried on a clash, so the name need only be
  // unlikely to be taken, not secret: the clock, where this process's stack
  // lies, and a counter. (No std::random_device: it would tie the binary
  // to a newer C library than it needs.)
  static std::uint64_t counter = 0;
  int local = 0;
  std::uint64_t seed =
      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
      static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count()) ^
      reinterpret_cast<std::uintptr_t>(&local);
  char suffix[24];
  std::snprintf(suffix, sizeof suffix, "%016llx",
                static_cast<unsigned long long>(mix(seed + ++counter)));
  return directory + ".pickcopy-" + suffix;
}

#include <chrono>
#include <cstdint>
#include <cstdio>

#include "copy/file_ops.h"

namespace {

// SplitMix64's output function: a bijection that spreads every bit of its
// input over the whole word.
std::uint64_t mix(std::uint64_t x) {
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9u;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebu;
  return x ^ (x >> 31);
}

}  // namespace

std::string temporary_name(const std::string& directory) {
  // Creation is exclusive and retried on a clash, so the name need only be
  // unlikely to be taken, not secret. SplitMix64 seeded once from the clocks
  // and where this process's stack lies: no two names of one run repeat,
  // and runs start far apart. (No std::random_device: it would tie the
  // binary to a newer C library than it needs.)
  static std::uint64_t state = [] {
    int local = 0;
    return mix(static_cast<std::uint64_t>(
               std::chrono::system_clock::now().time_since_epoch().count())) ^
           mix(static_cast<std::uint64_t>(
               std::chrono::steady_clock::now().time_since_epoch().count())) ^
           mix(reinterpret_cast<std::uintptr_t>(&local));
  }();
  state += 0x9e3779b97f4a7c15u;
  char suffix[24];
  std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(mix(state)));
  return directory + ".pickcopy-" + suffix;
}

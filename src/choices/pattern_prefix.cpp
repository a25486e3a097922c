#include "choices/pattern_prefix.h"

std::size_t prefix_length(std::string_view pattern,
                          std::string_view separators) {
  std::size_t last = pattern.find_last_of(separators);
  return last == std::string_view::npos ? 0 : last + 1;
}

bool has_wildcards(std::string_view component) {
  return component.find_first_of("*?[") != std::string_view::npos;
}

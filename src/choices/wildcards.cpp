#include "choices/wildcards.h"

bool has_wildcards(std::string_view component) {
  for (char c : component)
    if (c == '*' || c == '?' || c == '[')
      return true;
  return false;
}

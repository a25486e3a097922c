#include "choices/compare_names.h"

#include <cstring>

#include "path/path.h"

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool may_be_stem(char c) { return is_digit(c) || c == '.' || c == '\0'; }

// Scans the stem of `s`: true when `s`, up to its first '.' or its end, is
// made of decimal digits only (an empty stem counts, with value 0).
// `digits` and `count` then give the stem's significant digits: leading
// zeros are skipped, so the value is exact at any length. Otherwise points
// `*fail` at the first byte that is neither a digit nor the stem's end.
bool scan_stem(const char* s, const char** digits, int* count, const char** fail) {
  const char* p = s;
  while (*p == '0')
    ++p;
  const char* first = p;
  while (is_digit(*p))
    ++p;
  if (*p != '\0' && *p != '.') {
    *fail = p;
    return false;
  }
  *digits = first;
  *count = static_cast<int>(p - first);
  return true;
}

int compare_values(const char* a, int a_count, const char* b, int b_count) {
  if (a_count != b_count)
    return a_count > b_count ? 1 : -1;
  int r = std::memcmp(a, b, static_cast<size_t>(a_count));
  return r > 0 ? 1 : (r < 0 ? -1 : 0);
}

// Compares two names from where they differ in folder, as compare_names
// describes.
int compare_rests(const char* a, const char* b) {
  // Once a stem scan has failed at some byte, every later start up to that
  // byte fails at the same byte, so the scan is skipped until it is passed.
  // This keeps long runs of digits linear instead of quadratic.
  const char* a_fail = a;
  const char* b_fail = b;
  for (;;) {
    const char* ad = nullptr;
    const char* bd = nullptr;
    int ac = 0;
    int bc = 0;
    // A rest can only be a numeric stem where it starts with a digit, a
    // '.' or its end; most steps are decided by that alone.
    bool a_numeric = a >= a_fail && may_be_stem(*a) && scan_stem(a, &ad, &ac, &a_fail);
    if (a_numeric && b >= b_fail && may_be_stem(*b) && scan_stem(b, &bd, &bc, &b_fail))
      return compare_values(ad, ac, bd, bc);
    signed char ca = static_cast<signed char>(*a++);
    signed char cb = static_cast<signed char>(*b++);
    if (ca != cb || ca == 0)
      return ca > cb ? 1 : (ca < cb ? -1 : 0);
  }
}

}  // namespace

std::size_t shared_folder_length(const char* a, const char* b) {
  std::size_t same = 0;
  while (a[same] == b[same] && a[same] != '\0')
    ++same;
  return folder_part_length(std::string_view(a, same));
}

int compare_names(const char* a, const char* b) {
  // Two names in the same folder are ordered by what follows the folder,
  // so that "./opt9" and "./opt10" compare as "opt9" and "opt10" do.
  std::size_t shared = shared_folder_length(a, b);
  return compare_rests(a + shared, b + shared);
}

int compare_names(const char* a, std::size_t a_folder_length, const char* b,
                  std::size_t b_folder_length) {
  // The shorter folder part is empty or ends with a separator. Where the
  // other name begins with it, the two share it, and what else they share
  // holds no separator: past its folder part, its own name has none.
  std::size_t shorter = a_folder_length < b_folder_length ? a_folder_length : b_folder_length;
  std::size_t shared = std::memcmp(a, b, shorter) == 0 ? shorter : shared_folder_length(a, b);
  return compare_rests(a + shared, b + shared);
}

// The search for a pattern's names on Windows: a thin layer over
// FindFirstFileW and FindNextFileW, whose order and wildcard rules are the platform's own.
// The wide functions find every name, whatever its characters, and take
// paths past 260 characters.
#include <windows.h>

#include "choices/find_match.h"
#include "path/native_win32.h"
#include "path/path.h"

struct MatchSearch {
  HANDLE handle = INVALID_HANDLE_VALUE;
  WIN32_FIND_DATAW found;
  std::wstring prefix;
  bool first_pending = true;  // the start's entry is not yet handed out
};

void MatchSearchCloser::operator()(MatchSearch* search) const {
  if (search->handle != INVALID_HANDLE_VALUE)
    FindClose(search->handle);
  delete search;
}

// Every pattern is searched, even one without wildcards: the search gives
// the entry's name as the system spells it, which may differ from the
// pattern in case or be its long form.
MatchStart find_match(const char* pattern, MatchSearchPtr* search) {
  MatchSearchPtr started(new MatchSearch);
  // The search looks in the folder named before the last '\', ':' or
  // '/', so each name must carry that same prefix to be found again.
  started->prefix = wide_name(std::string(pattern, folder_part_length(pattern)));
  started->handle = FindFirstFileW(system_path(pattern).c_str(), &started->found);
  if (started->handle == INVALID_HANDLE_VALUE)
    return MatchStart::kNothing;
  *search = std::move(started);
  return MatchStart::kSearch;
}

bool find_match(MatchSearch& search, std::string* name) {
  if (search.first_pending) {
    search.first_pending = false;
  } else if (search.handle == INVALID_HANDLE_VALUE ||
             !FindNextFileW(search.handle, &search.found)) {
    if (search.handle != INVALID_HANDLE_VALUE)
      FindClose(search.handle);
    search.handle = INVALID_HANDLE_VALUE;
    return false;
  }
  *name = narrow_name(search.prefix + search.found.cFileName);
  return true;
}

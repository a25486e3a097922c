// The search for a pattern's names on Windows: a thin layer over
// FindFirstFileW and FindNextFileW, whose order and wildcard rules are the
// platform's own. The wide functions find every name, whatever its
// characters, and take paths past 260 characters. Each name is handed on
// as the search wrote it, to be opened exactly so.
//
// The file system matches a pattern against a file's short (8.3) name as
// well as its long one, so that "*.txt" finds "settings.txtold" through
// "SETTIN~1.TXT". A name that the pattern matches only through its short
// form is left out, judged by the rules Microsoft documents for the file
// system's matching ([MS-FSA] 2.1.4.4), applied to the pattern as FindFirstFileW
// hands it on: '?' as DOS_QM, a '.' before '?' or '*' as DOS_DOT, a '*'
// before '.' as DOS_STAR. Where those rules and the search disagree on a
// long name, the search's verdict stands: only a name whose short form
// matches and whose long form does not is left out.
#include <windows.h>

#include <algorithm>
#include <vector>

#include "choices/find_match.h"
#include "path/native_win32.h"
#include "path/path.h"

namespace {

constexpr wchar_t kDosStar = L'<';
constexpr wchar_t kDosQm = L'>';
constexpr wchar_t kDosDot = L'"';

bool is_wild(wchar_t c) {
  return c == L'*' || c == L'?' || c == kDosStar || c == kDosQm || c == kDosDot;
}

// `last`, a pattern's last component, as the file system matches it; empty
// where every name it finds stays: it has no wildcard, matches everything,
// or ends in '.', which the system's path rules take off before the search.
std::wstring file_system_expression(const std::wstring& last) {
  bool wild = false;
  for (wchar_t c : last)
    wild = wild || is_wild(c);
  if (!wild || last == L"*" || last == L"*.*" || last.back() == L'.')
    return std::wstring();
  std::wstring expression = last;
  for (std::size_t i = 0; i < expression.size(); ++i) {
    wchar_t next = i + 1 < last.size() ? last[i + 1] : L'\0';
    if (last[i] == L'?')
      expression[i] = kDosQm;
    else if (last[i] == L'.' && (next == L'?' || next == L'*'))
      expression[i] = kDosDot;
    else if (last[i] == L'*' && next == L'.')
      expression[i] = kDosStar;
  }
  return expression;
}

bool same_letter(wchar_t a, wchar_t b) {
  return a == b || CompareStringOrdinal(&a, 1, &b, 1, TRUE) == CSTR_EQUAL;
}

// The moves that consume nothing, taken before the name's character at
// `at` (or its end): '*' and DOS_STAR may match nothing anywhere, DOS_DOT
// beyond the end, and a run of DOS_QMs at a '.' or the end.
void close_over(const std::wstring& expression, const std::wstring& name, std::size_t at,
                std::vector<char>* states) {
  const bool end = at == name.size();
  const bool dot = !end && name[at] == L'.';
  std::vector<char>& s = *states;
  for (std::size_t i = 0; i < expression.size(); ++i) {
    if (!s[i])
      continue;
    wchar_t e = expression[i];
    if (e == L'*' || e == kDosStar || (e == kDosDot && end)) {
      s[i + 1] = 1;
    } else if (e == kDosQm && (end || dot)) {
      std::size_t j = i;
      while (j < expression.size() && expression[j] == kDosQm)
        ++j;
      s[j] = 1;
    }
  }
}

// True when `name` is in `expression`, as [MS-FSA] 2.1.4.4 describes it,
// ignoring case: the states are the positions in the expression that the
// name so far can have reached.
bool in_expression(const std::wstring& expression, const std::wstring& name) {
  const std::size_t last_dot = name.rfind(L'.');
  std::vector<char> now(expression.size() + 1), next(expression.size() + 1);
  now[0] = 1;
  for (std::size_t at = 0; at < name.size(); ++at) {
    close_over(expression, name, at, &now);
    std::fill(next.begin(), next.end(), 0);
    const wchar_t c = name[at];
    bool any = false;
    for (std::size_t i = 0; i < expression.size(); ++i) {
      if (!now[i])
        continue;
      const wchar_t e = expression[i];
      if (e == L'*' || (e == kDosStar && !(c == L'.' && at == last_dot))) {
        next[i] = 1;  // DOS_STAR does not take the name's last '.'
      } else if (e == L'?' || (e == kDosQm && c != L'.') || (e == kDosDot && c == L'.') ||
                 (e != kDosStar && e != kDosQm && e != kDosDot && same_letter(e, c))) {
        next[i + 1] = 1;
      } else {
        continue;
      }
      any = true;
    }
    if (!any)
      return false;
    now.swap(next);
  }
  close_over(expression, name, name.size(), &now);
  return now[expression.size()] != 0;
}

}  // namespace

struct MatchSearch {
  HANDLE handle = INVALID_HANDLE_VALUE;
  WIN32_FIND_DATAW found;
  std::string prefix;         // the pattern's folder part, as the dialogue holds it
  std::wstring expression;    // see file_system_expression
  bool first_pending = true;  // the start's entry is not yet handed out
};

void MatchSearchCloser::operator()(MatchSearch* search) const {
  if (search->handle != INVALID_HANDLE_VALUE)
    FindClose(search->handle);
  delete search;
}

namespace {

bool only_short_name_matches(const MatchSearch& search) {
  const WIN32_FIND_DATAW& found = search.found;
  return !search.expression.empty() && found.cAlternateFileName[0] != L'\0' &&
         !in_expression(search.expression, found.cFileName) &&
         in_expression(search.expression, found.cAlternateFileName);
}

bool next_entry(MatchSearch& search) {
  if (search.first_pending) {
    search.first_pending = false;
    return true;
  }
  if (search.handle != INVALID_HANDLE_VALUE && FindNextFileW(search.handle, &search.found))
    return true;
  if (search.handle != INVALID_HANDLE_VALUE)
    FindClose(search.handle);
  search.handle = INVALID_HANDLE_VALUE;
  return false;
}

}  // namespace

// Every pattern is searched, even one without wildcards: the search gives
// the entry's name as the system spells it, which may differ from the
// pattern in case or be its long form.
MatchStart find_match(const char* pattern, MatchSearchPtr* search) {
  MatchSearchPtr started(new MatchSearch);
  // The search looks in the folder named before the last '\', ':' or
  // '/', so each name must carry that same prefix to be found again.
  started->prefix.assign(pattern, folder_part_length(pattern));
  started->expression = file_system_expression(wide_name(pattern + started->prefix.size()));
  started->handle = FindFirstFileW(system_path(pattern).c_str(), &started->found);
  if (started->handle == INVALID_HANDLE_VALUE)
    return MatchStart::kNothing;
  *search = std::move(started);
  return MatchStart::kSearch;
}

bool find_match(MatchSearch& search, std::string* name, std::string* ordered_as) {
  do {
    if (!next_entry(search))
      return false;
  } while (only_short_name_matches(search));
  *name = found_name(search.prefix, search.found.cFileName);
  if (ordered_as != nullptr)
    *ordered_as = code_page_form(*name);
  return true;
}

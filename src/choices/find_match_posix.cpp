// Directory search on POSIX systems: the last component of a pattern is
// matched with fnmatch(3) against the entries of its directory, read
// lazily so that a pattern that has given its names stops reading.
#include <fnmatch.h>
#include <sys/stat.h>

#include "choices/directory.h"
#include "choices/find_match.h"
#include "choices/wildcards.h"
#include "path/path.h"

struct MatchSearch {
  std::string pattern;
  std::string prefix;     // up to and including the last '/'
  std::string component;  // what is matched against each entry
  DirectoryPtr dir;       // null for a direct lookup or once exhausted
  bool literal_pending = false;
  bool delivered = false;
};

void MatchSearchCloser::operator()(MatchSearch* search) const {
  delete search;
}

namespace {

bool entry_exists(const std::string& path) {
  struct stat st;
  return !path.empty() && lstat(path.c_str(), &st) == 0;
}

// Reads entries until one matches; false at the end of the directory.
bool next_match(MatchSearch& search, std::string* name) {
  while (const char* entry = next_entry(*search.dir)) {
    if (fnmatch(search.component.c_str(), entry, FNM_PERIOD) == 0) {
      *name = search.prefix + entry;
      return true;
    }
  }
  search.dir.reset();
  // As the shell does, a pattern whose wildcards match nothing stands for
  // itself when an entry of that very name exists (a file called a[1].txt).
  search.literal_pending = !search.delivered && entry_exists(search.pattern);
  return false;
}

}  // namespace

MatchSearchPtr find_match(const std::string& pattern) {
  std::size_t split = prefix_length(pattern, path_separators());
  std::string_view component = std::string_view(pattern).substr(split);
  MatchSearchPtr search(new MatchSearch);
  search->pattern = pattern;
  if (!has_wildcards(component)) {
    // Most arguments arrive already expanded by the shell: one lookup each.
    if (!entry_exists(pattern))
      return nullptr;
    search->literal_pending = true;
    return search;
  }
  search->prefix = pattern.substr(0, split);
  search->component = component;
  search->dir = open_directory(search->prefix.empty() ? "." : search->prefix);
  if (search->dir == nullptr)
    return nullptr;
  return search;
}

bool find_match(MatchSearch& search, std::string* name) {
  if (search.dir != nullptr && next_match(search, name)) {
    search.delivered = true;
    return true;
  }
  if (search.literal_pending) {
    search.literal_pending = false;
    search.delivered = true;
    *name = search.pattern;
    return true;
  }
  return false;
}

// The search for a pattern's names on POSIX systems, as the shell expands a
// pattern: every component that holds wildcards is matched with fnmatch(3)
// against the entries of its folder (a leading '.' only explicitly), read
// through a FolderReader. Folders are read lazily and depth first in their
// own order, so that a pattern that has given its names stops reading, and
// each name carries the folder path that matched.
#include <fnmatch.h>
#include <sys/stat.h>

#include <vector>

#include "choices/find_match.h"
#include "choices/folder_reader.h"
#include "choices/wildcards.h"

namespace {

// A component of the pattern and the slashes that follow it.
struct Component {
  std::string text;
  std::string slashes;
  bool wild;
};

// A folder being read: the entries are matched against one component.
struct Level {
  std::string base;       // the folder's path, ending in its slashes ("" for ".")
  std::size_t component;  // its index in the pattern
  FolderReaderPtr reader;
};

}  // namespace

struct MatchSearch {
  std::vector<Component> components;
  std::vector<Level> levels;  // outermost first; empty once exhausted
};

void MatchSearchCloser::operator()(MatchSearch* search) const { delete search; }

namespace {

bool entry_exists(const char* path) {
  struct stat st;
  return path[0] != '\0' && lstat(path, &st) == 0;
}

std::vector<Component> split_components(const std::string& pattern) {
  std::vector<Component> components;
  std::size_t at = 0;
  while (at < pattern.size()) {
    std::size_t slash = pattern.find('/', at);
    if (slash == std::string::npos)
      slash = pattern.size();
    std::size_t after = pattern.find_first_not_of('/', slash);
    if (after == std::string::npos)
      after = pattern.size();
    std::string text = pattern.substr(at, slash - at);
    bool wild = has_wildcards(text);
    components.push_back({std::move(text), pattern.substr(slash, after - slash), wild});
    at = after;
  }
  return components;
}

// Appends the components from `next` on that hold no wildcards; returns the
// index of the first that does, or the number of components.
std::size_t add_literal_components(const std::vector<Component>& components, std::size_t next,
                                   std::string* path) {
  for (; next < components.size() && !components[next].wild; ++next)
    *path += components[next].text + components[next].slashes;
  return next;
}

void enter(MatchSearch& search, std::string base, std::size_t component) {
  FolderReaderPtr reader = open_folder(base.empty() ? "." : base);
  if (reader != nullptr)
    search.levels.push_back({std::move(base), component, std::move(reader)});
}

// Reads entries until a whole path matches; false once every folder is read.
bool next_match(MatchSearch& search, std::string* name) {
  while (!search.levels.empty()) {
    Level& level = search.levels.back();
    const char* entry = next_entry(*level.reader);
    if (entry == nullptr) {
      search.levels.pop_back();
      continue;
    }
    const Component& component = search.components[level.component];
    if (fnmatch(component.text.c_str(), entry, FNM_PERIOD) != 0)
      continue;
    std::string path = level.base + entry + component.slashes;
    std::size_t next = add_literal_components(search.components, level.component + 1, &path);
    if (next < search.components.size()) {
      enter(search, std::move(path), next);  // a folder to match further in
      continue;
    }
    // The entry itself needs no check; what was added after it does.
    if (next == level.component + 1 && component.slashes.empty()) {
      *name = std::move(path);
      return true;
    }
    if (entry_exists(path.c_str())) {
      *name = std::move(path);
      return true;
    }
  }
  return false;
}

}  // namespace

MatchStart find_match(const char* pattern, MatchSearchPtr* search) {
  // Most arguments arrive already expanded by the shell, and a name the
  // shell gave stands for itself even where it holds wildcards (a file
  // called a[1].txt or b*.txt): one lookup each, and the name is the
  // pattern's own text. Only a pattern that names no entry is expanded.
  if (entry_exists(pattern))
    return MatchStart::kItself;
  if (!has_wildcards(pattern))
    return MatchStart::kNothing;
  MatchSearchPtr started(new MatchSearch);
  started->components = split_components(pattern);
  std::string base;
  std::size_t first_wild = add_literal_components(started->components, 0, &base);
  enter(*started, std::move(base), first_wild);
  if (started->levels.empty())
    return MatchStart::kNothing;
  *search = std::move(started);
  return MatchStart::kSearch;
}

bool find_match(MatchSearch& search, std::string* name, std::string* ordered_as) {
  if (ordered_as != nullptr)
    ordered_as->clear();  // a name is ordered by its own bytes
  return next_match(search, name);
}

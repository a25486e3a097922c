// Expansion of one wildcard pattern into directory entries, one name per
// fetch, through the platform's directory search.
#ifndef PICKCOPY_CHOICES_FIND_MATCH_H_
#define PICKCOPY_CHOICES_FIND_MATCH_H_

#include <memory>
#include <string>

struct MatchSearch;  // the platform's open search
struct MatchSearchCloser {
  void operator()(MatchSearch* search) const;
};
// Closing the pointer abandons the search and releases what it holds.
using MatchSearchPtr = std::unique_ptr<MatchSearch, MatchSearchCloser>;

// Starts a search for `pattern`. Returns null when the platform finds no
// entry or cannot search (for instance the directory does not exist).
MatchSearchPtr find_match(const std::string& pattern);

// Fetches the next name of `search` into `*name`: the pattern's directory
// prefix followed by the entry's name. Returns false once the search is
// exhausted. Entries come in the platform's own order, unfiltered.
bool find_match(MatchSearch& search, std::string* name);

#endif  // PICKCOPY_CHOICES_FIND_MATCH_H_

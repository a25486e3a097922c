// Expansion of one wildcard pattern into folder entries, one name per
// fetch, through the platform's folder search.
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

// What a pattern stands for, as its search starts.
enum class MatchStart {
  kNothing,  // no entry, or the platform cannot search (no such folder)
  kItself,   // the one entry that the pattern names as it is written
  kSearch,   // the names that the open search delivers
};

// Starts a search for `pattern`. Where the platform searches, `*search`
// then holds the open search. A pattern may be looked up at once as a name
// and stand for itself, with no search and nothing allocated.
MatchStart find_match(const char* pattern, MatchSearchPtr* search);

// Fetches the next name of `search` into `*name`: the pattern's folder
// prefix followed by the entry's name. Returns false once the search is
// exhausted. Entries come in the platform's own order, unfiltered but for
// names that Windows matched only through their short (8.3) form. Where
// `ordered_as` is given, it receives the bytes by which the menu orders
// the name where they differ from the name itself (on Windows, the bytes
// the dialogue writes for it), and is left empty otherwise.
bool find_match(MatchSearch& search, std::string* name, std::string* ordered_as = nullptr);

#endif  // PICKCOPY_CHOICES_FIND_MATCH_H_

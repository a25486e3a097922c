// Fuzzes compare_names through the sort: the result is a permutation of
// the input, ordered pairwise along the merge's own tie rule, and names that
// compare equal keep their pending order; the nodes' comparison agrees with
// compare_names for every pair.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "choices/choice_list.h"
#include "choices/compare_names.h"
#include "choices/sort_choices.h"

namespace {

bool nodes_agree(const ChoiceNode* a, const ChoiceNode* b) {
  return compare_names(a->ordered_as, a->folder_length, b->ordered_as, b->folder_length) ==
         compare_names(a->ordered_as, b->ordered_as);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Names are the input's pieces between zero bytes, each tagged with its
  // pending position.
  std::vector<std::string> names;
  std::string current;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      names.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  names.push_back(current);

  ChoiceList list;
  for (auto it = names.rbegin(); it != names.rend(); ++it)
    add_choice(&list, *it);
  std::map<const char*, std::size_t> position;
  std::size_t i = 0;
  for (const ChoiceNode* n = list.head; n != nullptr; n = n->next)
    position[n->name] = i++;

  list.head = sort_choices(list.head);

  std::vector<const ChoiceNode*> out;
  for (const ChoiceNode* n = list.head; n != nullptr; n = n->next)
    out.push_back(n);
  if (out.size() != names.size())
    std::abort();
  std::map<const char*, int> seen;
  for (const ChoiceNode* n : out)
    if (position.count(n->name) == 0 || seen[n->name]++ != 0)
      std::abort();  // not a permutation
  // The sort compares nodes with the folder part each was given; that must
  // agree with compare_names on the names alone: every pair of the first
  // names here, and every pair of neighbours below.
  const std::size_t first = out.size() < 64 ? out.size() : 64;
  for (std::size_t x = 0; x < first; ++x)
    for (std::size_t y = 0; y < first; ++y)
      if (!nodes_agree(out[x], out[y]))
        std::abort();
  for (std::size_t k = 0; k + 1 < out.size(); ++k) {
    if (!nodes_agree(out[k], out[k + 1]) || !nodes_agree(out[k + 1], out[k]))
      std::abort();
    int c = compare_names(out[k]->name, out[k + 1]->name);
    int r = compare_names(out[k + 1]->name, out[k]->name);
    if (c != -r)
      std::abort();  // the comparison must be antisymmetric
    if (c == 0 && position[out[k]->name] > position[out[k + 1]->name])
      std::abort();  // equal neighbours keep their pending order
  }
  return 0;
}

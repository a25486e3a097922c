#include "choices/sort_choices.h"

#include <cstddef>

#include "choices/compare_names.h"

namespace {

// Merges two ordered lists; `a` comes from earlier in the pending list than
// `b`, and on a tie a's node goes first, so the merge is stable. Nodes are
// compared as compare_names compares their ordered forms, with the folder
// part each node keeps.
ChoiceNode* merge_choices(ChoiceNode* a, ChoiceNode* b) {
  ChoiceNode head{};
  ChoiceNode* tail = &head;
  while (a != nullptr && b != nullptr) {
    int order = compare_names(a->ordered_as, a->folder_length, b->ordered_as, b->folder_length);
    ChoiceNode** from = order <= 0 ? &a : &b;
    ChoiceNode* node = *from;
    *from = node->next;
    node->next = nullptr;
    tail->next = node;
    tail = node;
  }
  tail->next = a != nullptr ? a : b;
  return head.next;
}

// Takes an ordered run of up to `limit` nodes (0: no limit) from the front
// of `*pending`. The recursion depth grows with log2 of the list length.
ChoiceNode* sort_run(ChoiceNode** pending, std::size_t limit) {
  ChoiceNode* run = *pending;
  if (run == nullptr)
    return nullptr;
  *pending = run->next;
  run->next = nullptr;
  for (std::size_t size = 1; size != limit; size *= 2) {
    ChoiceNode* other = sort_run(pending, size);
    if (other == nullptr)
      return run;
    run = merge_choices(run, other);
  }
  return run;
}

}  // namespace

ChoiceNode* sort_choices(ChoiceNode* list) {
  ChoiceNode* pending = list;
  return sort_run(&pending, 0);
}

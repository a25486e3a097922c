// The collected candidate names: a singly linked list whose nodes each
// carry a private copy of their name in the same allocation.
#ifndef PICKCOPY_CHOICES_CHOICE_LIST_H_
#define PICKCOPY_CHOICES_CHOICE_LIST_H_

#include <string_view>

struct ChoiceNode {
  ChoiceNode* next;
  const char* name;  // points just past the node, into the same block
};

// Links a new node holding a copy of `name` in front of `list` and returns
// it as the new head. Throws std::bad_alloc when memory runs out, which
// the program reports as "out of storage".
ChoiceNode* add_choice(ChoiceNode* list, std::string_view name);

// Releases every node of `list`.
void free_choices(ChoiceNode* list);

// Owns a list for the duration of a scope.
class ChoiceList {
 public:
  ChoiceList() = default;
  ChoiceList(const ChoiceList&) = delete;
  ChoiceList& operator=(const ChoiceList&) = delete;
  ~ChoiceList() { free_choices(head); }

  ChoiceNode* head = nullptr;
};

#endif  // PICKCOPY_CHOICES_CHOICE_LIST_H_

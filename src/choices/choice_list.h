// The collected candidate names: a singly linked list. The list owns its
// nodes and the copies of their names, carved one after another from large
// blocks and released together, so that a name costs no allocation of its
// own.
#ifndef PICKCOPY_CHOICES_CHOICE_LIST_H_
#define PICKCOPY_CHOICES_CHOICE_LIST_H_

#include <cstddef>
#include <string_view>

struct ChoiceNode {
  ChoiceNode* next;
  const char* name;
  // The bytes the menu's order compares: `name` itself, or on Windows the
  // bytes the dialogue writes for it.
  const char* ordered_as;
  std::size_t folder_length;  // of ordered_as's folder part, up to its last separator
};

class ChoiceList {
 public:
  ChoiceList() = default;
  ChoiceList(const ChoiceList&) = delete;
  ChoiceList& operator=(const ChoiceList&) = delete;
  ~ChoiceList();

  // Room for `size` bytes, aligned for a node, that lasts as long as the
  // list. Throws std::bad_alloc when memory runs out.
  void* allocate(std::size_t size);

  ChoiceNode* head = nullptr;

 private:
  struct Block;
  Block* newest_ = nullptr;  // each block links to the one before it
  char* free_ = nullptr;     // the unused end of the newest block
  std::size_t room_ = 0;
};

// Links a new node holding a copy of `name` in front of the list, ordered
// as `ordered_as` where that is given, else as `name`. Throws
// std::bad_alloc when memory runs out, which the program reports as "out
// of storage".
void add_choice(ChoiceList* list, std::string_view name, std::string_view ordered_as = {});

// Links a new node for `name` itself in front of the list, without a copy:
// the text must stay as it is for as long as the list lasts. Throws as
// add_choice does.
void add_lasting_choice(ChoiceList* list, const char* name);

#endif  // PICKCOPY_CHOICES_CHOICE_LIST_H_

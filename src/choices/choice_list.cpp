#include "choices/choice_list.h"

#include <cstdlib>
#include <cstring>
#include <new>

ChoiceNode* add_choice(ChoiceNode* list, std::string_view name) {
  // One zero-filled block: the node, then the name and its terminator.
  void* block = std::calloc(1, sizeof(ChoiceNode) + name.size() + 1);
  if (block == nullptr)
    throw std::bad_alloc();
  auto* node = static_cast<ChoiceNode*>(block);
  char* text = static_cast<char*>(block) + sizeof(ChoiceNode);
  if (!name.empty())
    std::memcpy(text, name.data(), name.size());
  node->next = list;
  node->name = text;
  return node;
}

void free_choices(ChoiceNode* list) {
  while (list != nullptr) {
    ChoiceNode* next = list->next;
    std::free(list);
    list = next;
  }
}

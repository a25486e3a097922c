#include "choices/choice_list.h"

#include <cstring>
#include <new>

#include "path/path.h"

namespace {

// Room for some 1,500 nodes with copies of typical names, and below the
// size from which the C library maps each block apart.
constexpr std::size_t kBlockSize = std::size_t{64} * 1024;

std::size_t aligned(std::size_t size) {
  constexpr std::size_t align = alignof(ChoiceNode);
  return (size + align - 1) / align * align;
}

void link_node(ChoiceList* list, void* room, const char* name, const char* ordered_as) {
  // The folder part as compare_names sees it: the text ends at its first
  // zero byte.
  list->head = new (room) ChoiceNode{list->head, name, ordered_as, folder_part_length(ordered_as)};
}

// A copy of `text` and its terminator at `room`.
char* copy_text(char* room, std::string_view text) {
  if (!text.empty())
    std::memcpy(room, text.data(), text.size());
  room[text.size()] = '\0';
  return room;
}

}  // namespace

struct ChoiceList::Block {
  Block* previous;
};

ChoiceList::~ChoiceList() {
  while (newest_ != nullptr) {
    Block* previous = newest_->previous;
    ::operator delete(newest_);
    newest_ = previous;
  }
}

void* ChoiceList::allocate(std::size_t size) {
  size = aligned(size);
  if (size > room_) {
    // A name longer than a block gets a block of its own size.
    std::size_t header = aligned(sizeof(Block));
    std::size_t block_size = header + size > kBlockSize ? header + size : kBlockSize;
    void* memory = ::operator new(block_size);
    newest_ = new (memory) Block{newest_};
    free_ = static_cast<char*>(memory) + header;
    room_ = block_size - header;
  }
  void* room = free_;
  free_ += size;
  room_ -= size;
  return room;
}

void add_choice(ChoiceList* list, std::string_view name, std::string_view ordered_as) {
  // The node, then the name and its terminator, then the ordered form and
  // its terminator where there is one.
  std::size_t size = sizeof(ChoiceNode) + name.size() + 1;
  if (!ordered_as.empty())
    size += ordered_as.size() + 1;
  char* room = static_cast<char*>(list->allocate(size));
  char* text = copy_text(room + sizeof(ChoiceNode), name);
  char* order = ordered_as.empty() ? text : copy_text(text + name.size() + 1, ordered_as);
  link_node(list, room, text, order);
}

void add_lasting_choice(ChoiceList* list, const char* name) {
  link_node(list, list->allocate(sizeof(ChoiceNode)), name, name);
}

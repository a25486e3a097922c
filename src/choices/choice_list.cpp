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

void link_node(ChoiceList* list, void* room, const char* name) {
  // The folder part as compare_names sees it: the name ends at its first
  // zero byte.
  list->head = new (room) ChoiceNode{list->head, name, folder_part_length(name)};
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

void add_choice(ChoiceList* list, std::string_view name) {
  // The node, then the name and its terminator.
  char* room = static_cast<char*>(list->allocate(sizeof(ChoiceNode) + name.size() + 1));
  char* text = room + sizeof(ChoiceNode);
  if (!name.empty())
    std::memcpy(text, name.data(), name.size());
  text[name.size()] = '\0';
  link_node(list, room, text);
}

void add_lasting_choice(ChoiceList* list, const char* name) {
  link_node(list, list->allocate(sizeof(ChoiceNode)), name);
}

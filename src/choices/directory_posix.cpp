// Directory reading with opendir(3) and readdir(3).
#include <dirent.h>

#include "choices/directory.h"

struct Directory {
  DIR* dir;
};

void DirectoryCloser::operator()(Directory* directory) const {
  closedir(directory->dir);
  delete directory;
}

DirectoryPtr open_directory(const std::string& path) {
  DIR* dir = opendir(path.c_str());
  return DirectoryPtr(dir != nullptr ? new Directory{dir} : nullptr);
}

const char* next_entry(Directory& directory) {
  dirent* entry = readdir(directory.dir);
  return entry != nullptr ? entry->d_name : nullptr;
}

#include "path/path.h"

std::string_view path_separators() { return "/"; }

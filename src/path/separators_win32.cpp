#include "path/path.h"

// A drive letter's colon ends a prefix as a backslash does ("c:a.txt"),
// and the system accepts forward slashes too.
std::string_view path_separators() { return "\\/:"; }

// The whole dialogue: arguments, collection, menu, answer and copy.
#ifndef PICKCOPY_DIALOGUE_DIALOGUE_H_
#define PICKCOPY_DIALOGUE_DIALOGUE_H_

#include <string>
#include <vector>

// Runs pickcopy with the program's arguments, its own name first; returns
// the exit status.
int run_pickcopy(const std::vector<std::string>& args);

#endif  // PICKCOPY_DIALOGUE_DIALOGUE_H_

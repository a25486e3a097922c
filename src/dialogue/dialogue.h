// The whole dialogue: arguments, collection, menu, answer and copy.
#ifndef PICKCOPY_DIALOGUE_DIALOGUE_H_
#define PICKCOPY_DIALOGUE_DIALOGUE_H_

// Runs pickcopy with the program's `argc` arguments, its own name first,
// which last as long as the program; returns the exit status.
int run_pickcopy(int argc, const char* const* args);

#endif  // PICKCOPY_DIALOGUE_DIALOGUE_H_

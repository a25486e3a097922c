// The whole dialogue: arguments, collection, menu, answer and copy.
#ifndef PICKCOPY_DIALOGUE_DIALOGUE_H_
#define PICKCOPY_DIALOGUE_DIALOGUE_H_

// Runs pickcopy with the program's arguments; returns the exit status.
int run_pickcopy(int argc, char** argv);

#endif  // PICKCOPY_DIALOGUE_DIALOGUE_H_

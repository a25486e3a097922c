// Set-up of the standard streams for the dialogue.
#ifndef PICKCOPY_DIALOGUE_CONSOLE_H_
#define PICKCOPY_DIALOGUE_CONSOLE_H_

// On a terminal standard output holds nothing back, so each entry is on
// the screen before the prompt on standard error; redirected, it is fully
// buffered.
void set_up_console();

#endif  // PICKCOPY_DIALOGUE_CONSOLE_H_

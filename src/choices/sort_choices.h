// Puts the collected names into menu order.
#ifndef PICKCOPY_CHOICES_SORT_CHOICES_H_
#define PICKCOPY_CHOICES_SORT_CHOICES_H_

#include "choices/choice_list.h"

// Returns `list` in menu order by relinking its nodes; allocates nothing.
// Because compare_names is not transitive, the order is defined by this
// exact bottom-up procedure: a run of 1 is merged with a run of 1, then of
// 2, 4 and so on, each built the same way from the nodes that follow. Each
// merge is stable: of two nodes that compare equal, the one from earlier
// in `list` goes first.
ChoiceNode* sort_choices(ChoiceNode* list);

#endif  // PICKCOPY_CHOICES_SORT_CHOICES_H_

#pragma once

#include <string>

namespace quern {

class TMainForm;

// The search commands of the main window; its handlers of the same names call them.

// Find (Ctrl+F): the Find dialog, then Search again, or Find all when its button closed it.
void runFindDialog(TMainForm& form);

// Search again (F3): from the key the tree shows, or the value the grid's focus is on, to the next
// match, with the wait window up and the main window disabled meanwhile. Goes to the match, says
// "No more matches found" when there is none, and does nothing more when it was cancelled. With no
// expression yet, the Find dialog instead.
void runSearchAgain(TMainForm& form);

// Find all: the same walk to its end from the same start, every hit into the list of hits.
void runFindAll(TMainForm& form);

// Moves tree and grid to a match: a key selected in the tree with the focus there; a value's key
// selected and the grid's focus on the value's row.
void goToSearchMatch(TMainForm& form, const std::string& position);

} // namespace quern

#pragma once

#include <string>

namespace quern {

class CommandWindow;
class SearchHitsPane;
struct SearchState;

// The search commands of the main window; its handlers of the same names call them with the
// window's search state (the expression and its switches, kept from one search to the next) and
// its list of hits.

// Find (Ctrl+F): the Find dialog, then Search again, or Find all when its button closed it.
void runFindDialog(CommandWindow& window, SearchState& state, SearchHitsPane& hits);

// Search again (F3): from the key the tree shows, or the value the grid's focus is on, to the next
// match, with the wait window up and the main window disabled meanwhile. Goes to the match, says
// "No more matches found" when there is none, and does nothing more when it was cancelled. With no
// expression yet, the Find dialog instead.
void runSearchAgain(CommandWindow& window, SearchState& state, SearchHitsPane& hits);

// Find all: the same walk to its end from the same start, every hit into the list of hits.
void runFindAll(CommandWindow& window, SearchState& state, SearchHitsPane& hits);

// Moves tree and grid to a match: a key selected in the tree with the focus there; a value's key
// selected and the grid's focus on the value's row.
void goToSearchMatch(CommandWindow& window, const std::string& position);

} // namespace quern

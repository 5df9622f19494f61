#pragma once

#include <functional>
#include <string>

class QMenu;

namespace quern {

class CommandWindow;
class SearchHitsPane;
class TTreeSel;
struct SearchState;

// The search commands of the main window; its handlers of the same names call them with the
// window's search state (the expression and its switches, kept from one search to the next) and
// its list of hits.

// Find (Ctrl+F): the Find dialog, then Search again (Find previous, backwards), or Find all when
// its button closed it.
void runFindDialog(CommandWindow& window, SearchState& state, SearchHitsPane& hits, bool backwards = false);

// Search again (F3): from the key the tree shows, or the value the grid's focus is on, to the next
// match, with the wait window up and the main window disabled meanwhile. Goes to the match, says
// "No more matches found" when there is none, and does nothing more when it was cancelled. With no
// expression yet, the Find dialog instead.
void runSearchAgain(CommandWindow& window, SearchState& state, SearchHitsPane& hits);

// Find previous (Shift+F3): the same, backwards, to the match Search again would have come from.
void runFindPrevious(CommandWindow& window, SearchState& state, SearchHitsPane& hits);

// Find all: every match in the whole registry, wherever the user stands, into the list of hits
// as they are found; the wait window counts the keys and hits meanwhile. A cancel keeps the hits
// found so far.
void runFindAll(CommandWindow& window, SearchState& state, SearchHitsPane& hits);

// Adds Find previous (Shift+F3) to the Find menu, and wires the list of hits: where it reads, its
// Save hits... and Mark hits (into the selection that selection gives), and going to a hit.
void addFindItems(QMenu& findMenu, CommandWindow& window, SearchState& state, SearchHitsPane& hits,
    std::function<TTreeSel&()> selection);

// Moves tree and grid to a match: a key selected in the tree with the focus there; a value's key
// selected and the grid's focus on the value's row.
void goToSearchMatch(CommandWindow& window, const std::string& position);

} // namespace quern

#pragma once

namespace quern {

class CommandWindow;
class SearchHitsPane;
class TTreeSel;

// The commands of the list of hits, on the hits it shows (the filter's, in its order).

// Save hits...: a text file, one hit a line (the key's path, and for a value its name and data,
// tab-separated), written whole or not at all.
void saveSearchHits(CommandWindow& window, SearchHitsPane& hits);

// Mark hits: each key alone and each value into the selection, where it is not yet, so that they
// can be saved or exported; a hit whose key or value is gone is left out.
void markSearchHits(CommandWindow& window, TTreeSel& selection, SearchHitsPane& hits);

} // namespace quern

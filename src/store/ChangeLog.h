#pragma once

#include "store/RegStore.h"
#include "store/RegTree.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quern::reg {

// One change of the registry in memory, as it is taken back: what it changed and what was there.
struct UndoEntry {
    enum Kind { ValueReplaced, ValueAdded, ValueDeleted, KeyCreated, KeyRemoved, Touched } kind;
    Key* key = nullptr;
    std::size_t index = 0;
    RawValue value;
    std::unique_ptr<Key> node; // a removed key, kept until the batch is kept
    Key* created = nullptr;
    std::uint64_t modified = 0;
    bool dirty = false;
    Hive* hive = nullptr; // of key; kept apart because the key goes when its hive is read again
};

// One named batch that was kept: its changes in the order they were made.
struct HistoryEntry {
    ChangeLabel label;
    std::vector<UndoEntry> changes;
    std::string stale; // set: a hive it touched was read again; why it cannot run
};

// The undo log of the batches under way and the history of the named batches kept, for Undo and
// Redo. It holds the changes and decides where each finished log goes; taking a change back, which
// touches the keys and the handles into them, is the registry's.
class ChangeLog {
public:
    enum class Replay { None, Undo, Redo };

    // The log of the batches under way, oldest change first.
    [[nodiscard]] std::vector<UndoEntry>& log() { return m_log; }
    void record(UndoEntry entry) { m_log.push_back(std::move(entry)); }
    // A batch begins where the log stands now; its end forgets where that was.
    void beginBatch() { m_marks.push_back(m_log.size()); }
    void endBatch() { m_marks.pop_back(); }
    // Ends the innermost batch and tells where in the log it began.
    [[nodiscard]] std::size_t abandonBatch();
    // Whether a change of the log touches the hive.
    [[nodiscard]] bool touches(const Hive& hive) const;

    // Names the batch under way, for Undo; forgotten when the batch is kept.
    void nameBatch(ChangeLabel label);
    void forgetBatchName();

    // The log is kept: it becomes the history's entry for the batch when it was named, and ends
    // the history when it was not.
    void keepLog();
    // The changes of the log that stay after some were taken back (kept, oldest first), and those
    // taken back (takenBack, newest first). An Undo or Redo that could not be written goes back
    // where it came from, as far as it was taken back: the registry is again as that entry
    // expects it.
    void keepAfterTakingBack(std::vector<UndoEntry> kept, std::vector<UndoEntry> takenBack);

    // The history's changes to the hive, or to the key a hive is mounted below, can no longer run,
    // for this reason (the first one given stays).
    void invalidate(const Hive& hive, const std::string& reason);
    void invalidateAt(const Key* mountParent, const std::string& reason);

    [[nodiscard]] const ChangeLabel* undoLabel() const;
    [[nodiscard]] const ChangeLabel* redoLabel() const;
    // The entries Undo (or Redo) runs, newest last.
    [[nodiscard]] std::vector<HistoryEntry>& entries(Replay direction);
    // While an Undo or Redo runs its batch, what it logs goes to the other side's history.
    void startReplay(Replay direction, ChangeLabel label);
    void endReplay();

private:
    void keepHistory(std::vector<UndoEntry> changes);

    std::vector<std::size_t> m_marks; // where each open batch began in the log
    std::vector<UndoEntry> m_log;
    ChangeLabel m_batchLabel;
    bool m_batchNamed = false;
    std::vector<HistoryEntry> m_undoHistory;
    std::vector<HistoryEntry> m_redoHistory;
    Replay m_replay = Replay::None; // set while Undo or Redo runs its batch
    ChangeLabel m_replayLabel;
};

} // namespace quern::reg

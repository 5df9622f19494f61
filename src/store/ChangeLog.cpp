#include "store/ChangeLog.h"

#include <algorithm>
#include <utility>

namespace quern::reg {

std::size_t ChangeLog::abandonBatch() {
    const std::size_t mark = std::min(m_marks.back(), m_log.size());
    m_marks.pop_back();
    return mark;
}

bool ChangeLog::touches(const Hive& hive) const {
    return std::any_of(m_log.begin(), m_log.end(), [&](const UndoEntry& e) { return e.hive == &hive; });
}

void ChangeLog::nameBatch(ChangeLabel label) {
    m_batchLabel = std::move(label);
    m_batchNamed = true;
}

void ChangeLog::forgetBatchName() {
    m_batchNamed = false;
    m_batchLabel = {};
}

void ChangeLog::keepLog() {
    std::vector<UndoEntry> changes = std::move(m_log);
    m_log.clear();
    keepHistory(std::move(changes));
}

void ChangeLog::keepAfterTakingBack(std::vector<UndoEntry> kept, std::vector<UndoEntry> takenBack) {
    m_log.clear();
    if (m_replay != Replay::None && !takenBack.empty()) {
        std::reverse(takenBack.begin(), takenBack.end());
        entries(m_replay).push_back({ m_replayLabel, std::move(takenBack), {} });
    }
    keepHistory(std::move(kept));
}

void ChangeLog::keepHistory(std::vector<UndoEntry> changes) {
    if (changes.empty()) return;
    if (m_replay == Replay::Undo) {
        m_redoHistory.push_back({ m_replayLabel, std::move(changes), {} });
        return;
    }
    if (m_replay == Replay::Redo) {
        m_undoHistory.push_back({ m_replayLabel, std::move(changes), {} });
        return;
    }
    // An unnamed change cannot be undone, and the older entries could not run past it.
    if (!m_batchNamed) {
        m_undoHistory.clear();
        m_redoHistory.clear();
        return;
    }
    m_undoHistory.push_back({ m_batchLabel, std::move(changes), {} });
    m_redoHistory.clear();
}

void ChangeLog::invalidate(const Hive& hive, const std::string& reason) {
    for (auto* stack : { &m_undoHistory, &m_redoHistory })
        for (HistoryEntry& entry : *stack)
            if (entry.stale.empty()
                && std::any_of(entry.changes.begin(), entry.changes.end(),
                    [&](const UndoEntry& change) { return change.hive == &hive; }))
                entry.stale = reason;
}

void ChangeLog::invalidateAt(const Key* mountParent, const std::string& reason) {
    for (auto* stack : { &m_undoHistory, &m_redoHistory })
        for (HistoryEntry& entry : *stack)
            if (entry.stale.empty()
                && std::any_of(entry.changes.begin(), entry.changes.end(),
                    [&](const UndoEntry& change) { return change.key == mountParent; }))
                entry.stale = reason;
}

const ChangeLabel* ChangeLog::undoLabel() const {
    return m_undoHistory.empty() ? nullptr : &m_undoHistory.back().label;
}

const ChangeLabel* ChangeLog::redoLabel() const {
    return m_redoHistory.empty() ? nullptr : &m_redoHistory.back().label;
}

std::vector<HistoryEntry>& ChangeLog::entries(Replay direction) {
    return direction == Replay::Undo ? m_undoHistory : m_redoHistory;
}

void ChangeLog::startReplay(Replay direction, ChangeLabel label) {
    m_replay = direction;
    m_replayLabel = std::move(label);
}

void ChangeLog::endReplay() {
    m_replay = Replay::None;
    m_replayLabel = {};
}

} // namespace quern::reg

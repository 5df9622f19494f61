#pragma once

#include "transfer/CompareWindow.h"

namespace quern {

class CommandWindow;

// File > Compare...: the compare window, both sides on the key the tree shows in this registry,
// for the user to change either.
void runCompare(CommandWindow& window, const CompareHost& host);

// File > Take snapshot: the whole registry (HKEY_LOCAL_MACHINE and HKEY_USERS, which hold all the
// others), or with key the key the tree shows, written as a lossless Version 5.00 file whose
// offered name says when ("Snapshot 2026-12-08 21.45.10.reg"). The status bar says where it went.
void takeSnapshot(CommandWindow& window, bool key);

// File > Compare with snapshot...: a snapshot file chosen, compared with the registry as it is now
// in the compare window, the snapshot on the left: what changed since it was taken.
void compareWithSnapshot(CommandWindow& window, const CompareHost& host);

} // namespace quern

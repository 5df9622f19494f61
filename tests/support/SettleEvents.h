#pragma once

#include <QObject>
#include <QTest>
#include <QTimer>

// Waits until every event posted before it has been handled, then goes on: a check that something
// did not happen (no message, no question, the window still open) follows it, where a fixed pause
// would pass or fail by the machine's speed. Fails the test when the events never settle.
#define QUERN_TRY_SETTLE()                                                                                             \
    do {                                                                                                               \
        QObject settleGuard; /* a timeout leaves no timer behind to touch the flag */                                  \
        bool settled = false;                                                                                          \
        QTimer::singleShot(0, &settleGuard, [&settled] { settled = true; });                                           \
        QTRY_VERIFY_WITH_TIMEOUT(settled, 5000);                                                                       \
    } while (false)

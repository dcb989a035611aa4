#pragma once

#include <QDeadlineTimer>
#include <QTest>

// Lets the event loop run until the condition holds; false when it still does not after the timeout. QTRY_*
// report to Qt Test, which a GoogleTest case would not notice: check the result with ASSERT_TRUE.
template<typename Condition> bool waitFor(Condition condition, int timeoutMs = 15000)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(5);
    }
    return true;
}

#pragma once

#include <QDeadlineTimer>
#include <QTest>

#include <gtest/gtest.h>

// The one way a test waits: the event loop runs until the condition holds; false when it still does not after the
// timeout. QTRY_* report to Qt Test, which a GoogleTest case would not notice: check the result, or use the macros.
inline constexpr int kWaitTimeoutMs = 20000;

template<typename Condition> bool waitFor(Condition condition, int timeoutMs = kWaitTimeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(5);
    }
    return true;
}

#define ASSERT_EVENTUALLY(condition)                                                                                   \
    ASSERT_TRUE(waitFor([&] { return bool(condition); })) << "never became true: " #condition
#define EXPECT_EVENTUALLY(condition)                                                                                   \
    EXPECT_TRUE(waitFor([&] { return bool(condition); })) << "never became true: " #condition

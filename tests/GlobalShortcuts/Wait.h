#pragma once

#include <QTest>

#include <gtest/gtest.h>

// Waits for a condition while the event loop runs, and fails the test when it does not come in time.
// (Qt Test's QTRY macros report to Qt Test's own log, which a GoogleTest run does not read.)
inline constexpr int kWaitTimeoutMs = 20000;

#define ASSERT_EVENTUALLY(condition)                                                                                   \
    ASSERT_TRUE(QTest::qWaitFor([&] { return bool(condition); }, kWaitTimeoutMs)) << "never became true: " #condition
#define EXPECT_EVENTUALLY(condition)                                                                                   \
    EXPECT_TRUE(QTest::qWaitFor([&] { return bool(condition); }, kWaitTimeoutMs)) << "never became true: " #condition

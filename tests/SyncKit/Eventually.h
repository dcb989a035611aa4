#pragma once

#include <QTest>

#include <gtest/gtest.h>

// Runs the event loop until the condition holds, for at most ten seconds, and fails the test when it never
// does. (Qt's QTRY_ macros report to Qt Test, which a GoogleTest run does not hear.)
inline constexpr int kEventuallyTimeoutMs = 10000;

#define EXPECT_EVENTUALLY(condition)                                                                                 \
    EXPECT_TRUE(QTest::qWaitFor([&] { return bool(condition); }, kEventuallyTimeoutMs)) << "never true: " #condition
#define ASSERT_EVENTUALLY(condition)                                                                                 \
    ASSERT_TRUE(QTest::qWaitFor([&] { return bool(condition); }, kEventuallyTimeoutMs)) << "never true: " #condition

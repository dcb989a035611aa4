#pragma once

#include <QString>
#include <QStringList>

// The environment that makes a program started by a test fail the calls its rules name (see FailingCalls.cpp):
// "NAME=value" pairs to add to the program's own environment.
inline QStringList failingCalls(const QString &rules)
{
    // A program built with the address sanitizer wants its runtime loaded first; this library comes first instead.
    QString asan = qEnvironmentVariable("ASAN_OPTIONS");
    asan += QStringLiteral("%1verify_asan_link_order=0").arg(asan.isEmpty() ? "" : ":");
    return {QStringLiteral("LD_PRELOAD=" FAILING_CALLS_LIBRARY), QStringLiteral("FAILING_CALLS=") + rules,
            QStringLiteral("ASAN_OPTIONS=") + asan};
}

#include "XvfbServer.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>

// Each run gets an X server of its own; listing the tests (at build time) needs none.
int main(int argc, char **argv)
{
    XvfbServer server;
    if (argc > 1 && QByteArray(argv[1]).startsWith("--gtest_list_tests")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    } else {
        if (const QString error = server.start(); !error.isEmpty()) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        qputenv("DISPLAY", server.display().toLatin1());
        // The keys and windows of the test's own X server, even when the test runs inside a Wayland session.
        qunsetenv("WAYLAND_DISPLAY");
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    // No session bus: Qt embeds the tray icon in the X11 tray rather than offering it over D-Bus.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
    qputenv("LANG", "en_US.UTF-8");
    qunsetenv("LC_ALL");
    qputenv("TZ", "UTC");
    tzset();
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

#include <QApplication>
#include <QProcess>

#include <gtest/gtest.h>

#include <sys/prctl.h>

#include <csignal>
#include <cstdio>
#include <ctime>

// Each run gets an X server of its own, which dies with it at the latest; listing the tests (at build time) needs none.
int main(int argc, char **argv)
{
    QProcess xvfb;
    if (argc > 1 && QByteArray(argv[1]).startsWith("--gtest_list_tests")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    } else {
        xvfb.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        xvfb.setStandardErrorFile(QProcess::nullDevice());
        // With -displayfd the server picks the first free display and names it once it accepts connections.
        xvfb.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp", "-noreset"});
        QByteArray display;
        while (!display.endsWith('\n') && xvfb.waitForReadyRead(60000))
            display += xvfb.readAll();
        if (!display.endsWith('\n')) {
            std::fprintf(stderr, "Xvfb did not start (is it installed? scripts/install-deps installs it)\n");
            return 1;
        }
        qputenv("DISPLAY", ":" + display.trimmed());
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
    const int result = [&] {
        QApplication app(argc, argv);
        testing::InitGoogleTest(&argc, argv);
        return RUN_ALL_TESTS();
    }();
    xvfb.terminate(); // the server removes its socket and lock file on the way out
    xvfb.waitForFinished(10000);
    return result;
}

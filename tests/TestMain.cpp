#include <QApplication>
#include <gtest/gtest.h>

#include <ctime>

int main(int argc, char **argv)
{
    // The same surroundings on every machine: the offscreen platform unless a test asks for X11, English dates,
    // UTC. Set here rather than through CTest, which also runs the binary at build time to list its tests.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("LANG", "en_US.UTF-8");
    qunsetenv("LC_ALL");
    qunsetenv("LC_MESSAGES");
    qputenv("TZ", "UTC");
    tzset();
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

#include "Vellora/Platform/XdgAutostart.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class XdgAutostartTest : public testing::Test
{
protected:
    QTemporaryDir dir;
    XdgAutostart autostart{dir.filePath("config"), {"/opt/vellora/bin/vellora"}};
};

TEST_F(XdgAutostartTest, RegisteringWritesAValidEntryAndUnregisteringRemovesIt)
{
    EXPECT_EQ(autostart.entryPath(), dir.filePath("config/autostart/app.vellora.Vellora.desktop"));
    EXPECT_FALSE(autostart.isEnabled());
    EXPECT_EQ(autostart.registerApp(), std::nullopt);
    EXPECT_TRUE(autostart.isEnabled());

    EXPECT_EQ(QProcess::execute("desktop-file-validate", {autostart.entryPath()}), 0);
    QFile file(autostart.entryPath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains("\nExec=/opt/vellora/bin/vellora\n"));
    file.close();

    // An entry hidden by the user counts as off; Hidden in another group, or set to false, does not.
    const std::pair<const char *, bool> entries[] = {
        {"Hidden=false\n", true}, {"[Desktop Action x]\nHidden=true\n", true}, {"Hidden = true\n", false}};
    for (const auto &[hidden, enabled] : entries) {
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QByteArray("[Desktop Entry]\nType=Application\nName=Vellora\nExec=vellora\n") + hidden);
        file.close();
        EXPECT_EQ(autostart.isEnabled(), enabled) << hidden;
    }
    EXPECT_EQ(autostart.registerApp(), std::nullopt);
    EXPECT_TRUE(autostart.isEnabled()) << "registered again";

    EXPECT_EQ(autostart.unregisterApp(), std::nullopt);
    EXPECT_FALSE(QFile::exists(autostart.entryPath()));
    EXPECT_FALSE(autostart.isEnabled());
    EXPECT_EQ(autostart.unregisterApp(), std::nullopt); // nothing left to remove is no failure
}

TEST_F(XdgAutostartTest, FailuresComeBackAsText)
{
    // A file where the autostart folder should be: the entry cannot be written.
    QDir().mkpath(dir.filePath("config"));
    ASSERT_TRUE(QFile(dir.filePath("config/autostart")).open(QIODevice::WriteOnly));
    const auto writeError = autostart.registerApp();
    ASSERT_TRUE(writeError.has_value());
    EXPECT_FALSE(writeError->isEmpty());
    EXPECT_FALSE(autostart.isEnabled());

    // A folder where the entry should be: it cannot be removed (also not by root).
    ASSERT_TRUE(QFile::remove(dir.filePath("config/autostart")));
    QDir().mkpath(autostart.entryPath() + "/inside");
    const auto removeError = autostart.unregisterApp();
    ASSERT_TRUE(removeError.has_value());
    EXPECT_TRUE(removeError->startsWith("The login item could not be removed"));
}

TEST(XdgAutostart, TheCommandIsQuotedForTheExecKey)
{
    EXPECT_EQ(XdgAutostart::execLine({"/home/ann/My Apps/vellora"}), "\"/home/ann/My Apps/vellora\"");
    // Inside quotes " ` $ \ are escaped; then the whole value escapes its backslashes once more.
    EXPECT_EQ(XdgAutostart::execLine({R"(/a"b`c$d\e)"}), R"("/a\\"b\\`c\\$d\\\\e")");
    EXPECT_EQ(XdgAutostart::execLine({"/opt/100%/vellora"}), "/opt/100%%/vellora");
}

} // namespace

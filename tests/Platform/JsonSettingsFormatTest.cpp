#include "Vellora/Platform/JsonSettingsFormat.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// How values keep their kinds, and that opening writes nothing, the app's settings show (tests/Shell).

namespace {

QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(JsonSettingsFormatTest, AnUnreadableFileIsKeptAsideBeforeItIsReplaced)
{
    QTemporaryDir dir;
    const QByteArray broken = "{ \"textSize\": \"l\", oops";
    QFile file(dir.filePath("broken.json"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(broken);
    file.close();
    {
        const auto settings = JsonSettingsFormat::open(file.fileName());
        EXPECT_FALSE(settings->contains("textSize"));
        settings->setValue("appearance", "dark");
    }
    EXPECT_EQ(QJsonDocument::fromJson(contentsOf(file.fileName())).object().value("appearance").toString(), "dark");
    const QStringList aside = QDir(dir.path()).entryList({"broken.json.unreadable-*"});
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(contentsOf(dir.filePath(aside.first())), broken);
}

} // namespace

#include "Vellora/Platform/JsonSettingsFormat.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// Each case uses a file of its own: QSettings keeps what it read of a path for the rest of the process.
class JsonSettingsFormatTest : public testing::Test
{
protected:
    QTemporaryDir dir;

    QString writeFile(const QString &name, const QByteArray &bytes)
    {
        QFile file(dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return file.fileName();
    }

    QJsonObject fileObject(const QString &path)
    {
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return QJsonDocument::fromJson(file.readAll()).object();
    }
};

// A boolean stays a boolean and a text a text, both ways: the stored defaults tell them apart.
TEST_F(JsonSettingsFormatTest, ValuesKeepTheirKindsBothWays)
{
    const QString path = dir.filePath("written.json");
    {
        const auto settings = JsonSettingsFormat::open(path);
        settings->setValue("showInDock", false);
        settings->setValue("textSize", "l");
        settings->setValue("count", 3);
    }
    const QJsonObject object = fileObject(path);
    EXPECT_EQ(object.value("showInDock"), QJsonValue(false));
    EXPECT_EQ(object.value("textSize"), QJsonValue("l"));
    EXPECT_EQ(object.value("count"), QJsonValue(3));

    const auto settings = JsonSettingsFormat::open(
        writeFile("read.json", R"({"flag": true, "text": "true", "whole": 7, "half": 0.5, "list": [1, "a"]})"));
    EXPECT_EQ(settings->value("flag").typeId(), QMetaType::Bool);
    EXPECT_EQ(settings->value("text").typeId(), QMetaType::QString);
    EXPECT_EQ(settings->value("whole").toLongLong(), 7);
    EXPECT_DOUBLE_EQ(settings->value("half").toDouble(), 0.5);
    EXPECT_EQ(settings->value("list").toList().size(), 2);
}

TEST_F(JsonSettingsFormatTest, OpeningWritesNothing)
{
    const QString path = dir.filePath("folder/untouched.json");
    {
        const auto settings = JsonSettingsFormat::open(path);
        EXPECT_FALSE(settings->value("textSize").isValid());
    }
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_FALSE(QDir(dir.filePath("folder")).exists());
}

TEST_F(JsonSettingsFormatTest, AnUnreadableFileIsKeptAsideBeforeItIsReplaced)
{
    const QString path = writeFile("broken.json", "{ \"textSize\": \"l\", oops");
    {
        const auto settings = JsonSettingsFormat::open(path);
        EXPECT_FALSE(settings->contains("textSize"));
        settings->setValue("appearance", "dark");
    }
    EXPECT_EQ(fileObject(path).value("appearance").toString(), "dark");
    const QStringList aside = QDir(dir.path()).entryList({"broken.json.unreadable-*"});
    ASSERT_EQ(aside.size(), 1);
    QFile kept(dir.filePath(aside.first()));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), "{ \"textSize\": \"l\", oops");
}

} // namespace

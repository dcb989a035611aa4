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

    QByteArray read(const QString &name)
    {
        QFile file(dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return file.readAll();
    }
};

// A boolean stays a boolean and a text a text, both ways: the stored defaults tell them apart. Opening alone
// writes nothing.
TEST_F(JsonSettingsFormatTest, ValuesKeepTheirKindsBothWays)
{
    {
        const auto settings = JsonSettingsFormat::open(dir.filePath("written.json"));
        EXPECT_FALSE(JsonSettingsFormat::open(dir.filePath("folder/untouched.json"))->value("textSize").isValid());
        settings->setValue("showInDock", false);
        settings->setValue("textSize", "l");
        settings->setValue("count", 3);
    }
    EXPECT_FALSE(QDir(dir.filePath("folder")).exists());
    const QJsonObject object = QJsonDocument::fromJson(read("written.json")).object();
    EXPECT_EQ(object, (QJsonObject{{"showInDock", false}, {"textSize", "l"}, {"count", 3}}));

    QFile file(dir.filePath("read.json"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(R"({"flag": true, "text": "true", "whole": 7, "half": 0.5, "list": [1, "a"]})");
    file.close();
    const auto settings = JsonSettingsFormat::open(file.fileName());
    EXPECT_EQ(settings->value("flag").typeId(), QMetaType::Bool);
    EXPECT_EQ(settings->value("text").typeId(), QMetaType::QString);
    EXPECT_EQ(settings->value("whole").toLongLong(), 7);
    EXPECT_DOUBLE_EQ(settings->value("half").toDouble(), 0.5);
    EXPECT_EQ(settings->value("list").toList().size(), 2);
}

TEST_F(JsonSettingsFormatTest, AnUnreadableFileIsKeptAsideBeforeItIsReplaced)
{
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
    EXPECT_EQ(QJsonDocument::fromJson(read("broken.json")).object().value("appearance").toString(), "dark");
    const QStringList aside = QDir(dir.path()).entryList({"broken.json.unreadable-*"});
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(read(aside.first()), broken);
}

} // namespace

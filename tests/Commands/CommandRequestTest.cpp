#include "Vellora/Commands/Command.h"
#include "Vellora/Commands/CommandRunner.h"
#include "Vellora/DayData/AtomicFile.h"
#include "Vellora/DayData/DayStore.h"

#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// Commands that reach the running app as JSON, past the command line's own checks: the app checks them again.

namespace {

TEST(CommandRequest, ATitleOfOverAThousandCharactersIsRefusedByTheApp)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("store.json");
    DayStore::Options options;
    options.fileURL = path;
    options.calendar = Calendar::make("en_US", "UTC");
    DayStore store(options);
    const auto storeBytes = [&] {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    const auto command = [](Command::Verb verb, const QString &item, const QString &text) {
        Command c;
        c.verb = verb;
        c.item = item;
        c.text = text;
        return c;
    };

    const QJsonObject added = runCommandRequest(command(Command::Verb::add, {}, "short").toJson(), store);
    ASSERT_EQ(added.value("exitCode").toInt(-1), 0) << added.value("err").toString().toStdString();
    ASSERT_EQ(store.saved().items.size(), 1u);
    const QString id = store.saved().items.begin()->first;
    struct Case
    {
        Command command;
        bool accepted;
    };
    const std::vector<Case> cases{
        {command(Command::Verb::add, {}, QString(1001, 'a')), false},
        {command(Command::Verb::add, {}, QString(30000, 'a')), false},
        {command(Command::Verb::edit, id, QString(1001, 'e')), false},
        {command(Command::Verb::add, {}, QString(1000, 'a')), true},
        {command(Command::Verb::edit, id, QString(1000, 'e')), true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(QJsonDocument(c.command.toJson()).toJson(QJsonDocument::Compact).left(40).toStdString());
        const QByteArray before = storeBytes();
        const qsizetype itemsBefore = store.saved().items.size();
        const QJsonObject outcome = runCommandRequest(c.command.toJson(), store);
        if (c.accepted) {
            EXPECT_EQ(outcome.value("exitCode").toInt(-1), 0) << outcome.value("err").toString().toStdString();
            EXPECT_TRUE(storeBytes().contains(c.command.text.toUtf8()));
        } else {
            EXPECT_EQ(outcome.value("exitCode").toInt(), 2);
            EXPECT_EQ(outcome.value("err").toString(), "the text is longer than 1000 characters");
            EXPECT_EQ(storeBytes(), before);
            EXPECT_EQ(store.saved().items.size(), itemsBefore);
        }
    }
    for (const auto &[itemId, item] : store.saved().items)
        EXPECT_LE(item.title.size(), 1000);
}

// The app keeps a change it could not save and tries again; the command is not told "Added" meanwhile.
TEST(CommandRequest, AChangeTheAppCouldNotSaveFailsTheCommand)
{
    QTemporaryDir dir;
    DayStore::Options options;
    options.fileURL = dir.filePath("store.json");
    options.calendar = Calendar::make("en_US", "UTC");
    DayStore store(options);
    Command add;
    add.verb = Command::Verb::add;
    add.text = QStringLiteral("Call Anna");
    AtomicFile::setFaultInjector([](AtomicFile::Step step) { return step == AtomicFile::Step::write ? ENOSPC : 0; });
    const QJsonObject outcome = runCommandRequest(add.toJson(), store);
    AtomicFile::setFaultInjector({});
    EXPECT_EQ(outcome.value("exitCode").toInt(), 1);
    EXPECT_TRUE(outcome.value("out").toString().isEmpty());
    EXPECT_TRUE(outcome.value("err").toString().contains("could not save")) << outcome.value("err").toString().toStdString();
    EXPECT_EQ(store.saved().items.size(), 1u) << "kept for the next try";
}

} // namespace

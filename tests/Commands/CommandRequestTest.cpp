#include "Vellora/Commands/Command.h"
#include "Vellora/Commands/CommandRunner.h"
#include "Vellora/DayData/AtomicFile.h"
#include "Vellora/DayData/DayStore.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// Commands as the running app receives them, past the command line's own checks: the app checks them again.

namespace {

struct AppStore
{
    QTemporaryDir dir;
    DayStore store{[this] {
        DayStore::Options options;
        options.fileURL = dir.filePath("store.json");
        return options;
    }()};

    QByteArray bytes() const
    {
        QFile file(dir.filePath("store.json"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QJsonObject run(Command::Verb verb, const QString &text, const QString &item = {})
    {
        Command command;
        command.verb = verb;
        command.item = item;
        command.text = text;
        return runCommandRequest(command.toJson(), store);
    }
};

TEST(CommandRequest, ATitleOfOverAThousandCharactersIsRefused)
{
    AppStore app;
    ASSERT_EQ(app.run(Command::Verb::add, "short").value("exitCode").toInt(-1), 0);
    const QString id = app.store.saved().items.begin()->first;
    const QString emoji = QString::fromUcs4(U"\U0001F600");
    const struct
    {
        Command::Verb verb;
        QString text;
        bool accepted;
    } cases[] = {
        {Command::Verb::add, QString(1001, 'a'), false},  {Command::Verb::add, QString(30000, 'a'), false},
        {Command::Verb::edit, QString(1001, 'e'), false}, {Command::Verb::add, QString(1000, 'a'), true},
        {Command::Verb::edit, QString(1000, 'e'), true},  {Command::Verb::add, emoji.repeated(1001), false},
        {Command::Verb::add, emoji.repeated(1000), true}, // characters count, not UTF-16 units
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text.size());
        const QByteArray before = app.bytes();
        const QJsonObject outcome = app.run(c.verb, c.text, c.verb == Command::Verb::edit ? id : QString());
        if (c.accepted) {
            EXPECT_EQ(outcome.value("exitCode").toInt(-1), 0) << outcome.value("err").toString().toStdString();
            EXPECT_TRUE(app.bytes().contains(c.text.toUtf8()));
        } else {
            EXPECT_EQ(outcome.value("exitCode").toInt(), 2);
            EXPECT_EQ(outcome.value("err").toString(), "the text is longer than 1000 characters");
            EXPECT_EQ(app.bytes(), before);
        }
    }
}

// The app keeps a change it could not save and tries again; the command is not told "Added" meanwhile.
TEST(CommandRequest, AChangeTheAppCouldNotSaveFailsTheCommand)
{
    AppStore app;
    AtomicFile::setFaultInjector([](AtomicFile::Step step) { return step == AtomicFile::Step::write ? ENOSPC : 0; });
    const QJsonObject outcome = app.run(Command::Verb::add, "Call Anna");
    AtomicFile::setFaultInjector({});
    EXPECT_EQ(outcome.value("exitCode").toInt(), 1);
    EXPECT_TRUE(outcome.value("out").toString().isEmpty());
    EXPECT_TRUE(outcome.value("err").toString().contains("could not save")) << outcome.value("err").toString().toStdString();
    EXPECT_EQ(app.store.saved().items.size(), 1u) << "kept for the next try";
}

} // namespace

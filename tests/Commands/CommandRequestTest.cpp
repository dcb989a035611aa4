#include "Vellora/Commands/Command.h"
#include "Vellora/Commands/CommandRunner.h"
#include "Vellora/Files/AtomicFile.h"
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
        options.filePath = dir.filePath("store.json");
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

// While the app cannot save, it still answers: a reading command shows the planner as the app holds it and says it
// is not saved yet; a change is made and kept, and says so with a status of its own rather than "Added" alone.
TEST(CommandRequest, WhileASaveFailsReadingAnswersAndAChangeSaysItIsKept)
{
    AppStore app;
    AtomicFile::setFaultInjector([](AtomicFile::Step step) { return step == AtomicFile::Step::write ? ENOSPC : 0; });
    const QJsonObject added = app.run(Command::Verb::add, "Call Anna");
    const QJsonObject today = app.run(Command::Verb::today, {});
    const QJsonObject backlog = app.run(Command::Verb::backlog, {});
    AtomicFile::setFaultInjector({});
    EXPECT_EQ(added.value("exitCode").toInt(), ExitStatus::notSaved);
    EXPECT_TRUE(added.value("err").toString().contains("keeps the change but could not save it yet (disk full)"))
        << added.value("err").toString().toStdString();
    EXPECT_EQ(app.store.saved().items.size(), 1u) << "kept for the next try";
    for (const QJsonObject &read : {today, backlog}) {
        EXPECT_EQ(read.value("exitCode").toInt(-1), ExitStatus::ok);
        EXPECT_TRUE(read.value("err").toString().startsWith("not saved yet")) << read.value("err").toString().toStdString();
    }
    EXPECT_TRUE(today.value("out").toString().contains("Call Anna"));
    EXPECT_TRUE(backlog.value("out").toString().startsWith("0 items"));
}

// An argument is named as the person gave it, and the message says what is wrong with it.
TEST(CommandRequest, ArgumentsAndItemsAreReadAsGivenAndRefusedForTheirRealFault)
{
    const struct
    {
        QStringList arguments;
        QString storePath; // or, with an empty one, the start of the error
        QString error;
    } parses[] = {
        {{"today", "--store=/tmp/a b.json"}, "/tmp/a b.json", {}},
        {{"--store", "/tmp/x=y.json", "today"}, "/tmp/x=y.json", {}},
        {{"today", "--store="}, {}, "--store needs a value"},
        {{"today", "--stored=x"}, {}, "unknown option '--stored=x'"},
    };
    for (const auto &c : parses) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        const auto parsed = parseCommand(c.arguments);
        if (c.error.isEmpty()) {
            ASSERT_TRUE(std::holds_alternative<Command>(parsed));
            EXPECT_EQ(std::get<Command>(parsed).storePath, c.storePath);
        } else {
            ASSERT_TRUE(std::holds_alternative<CommandError>(parsed));
            EXPECT_EQ(std::get<CommandError>(parsed).message, c.error);
        }
    }
    const auto block = parseCommand({"add", "x", "--block=big"});
    ASSERT_TRUE(std::holds_alternative<Command>(block));
    EXPECT_EQ(std::get<Command>(block).block, Block::big);

    AppStore app;
    app.run(Command::Verb::add, "Call Anna");
    const struct
    {
        QString item;
        QString error;
    } items[] = {
        {"9.9", "there is no row 9.9 (the rows are 1.0, 3.0 to 3.2 and 5.0 to 5.4)"},
        {"slot.3.7", "there is no row slot.3.7"},
        {"3.0.1", "there is no row 3.0.1 (the rows are 1.0, 3.0 to 3.2 and 5.0 to 5.4)"},
        {"ab", "'ab' is too short to name an item (give at least 4 characters of its id)"},
        {"3.1", "row slot.3.1 is empty"},
    };
    for (const auto &c : items) {
        const QJsonObject outcome = app.run(Command::Verb::done, {}, c.item);
        EXPECT_EQ(outcome.value("exitCode").toInt(), ExitStatus::failed) << c.item.toStdString();
        EXPECT_EQ(outcome.value("err").toString(), c.error);
    }
}

} // namespace

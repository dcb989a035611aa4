#include "ProcessFixture.h"

#include "Vellora/Files/AtomicFile.h"
#include "Vellora/Paper/PaperLabel.h"
#include "Vellora/Platform/InstanceChannel.h"

#include <QLocalSocket>

// The command line while an app has the store open: every command goes through the app, which is then the only
// writer of the file, and a launch without a command hands over to it (apps launched alone: SyncCommandTest).

namespace {

using AppProcessTest = ProcessTest;

TEST_F(AppProcessTest, AHundredAddsWhileTheAppRunsLeaveExactlyAHundredMoreItemsInTheFileAndOnTheSheet)
{
    ASSERT_EQ(vellora({"add", "Before the app"}).exitCode, 0); // through the file: no app yet
    startApp();
    ASSERT_EQ(app->store().saved().items.size(), 1u);
    auto *status = app->window().mainWindow()->findChild<PaperLabel *>("sheet.status");
    ASSERT_NE(status, nullptr);

    constexpr int kAdds = 100;
    constexpr int kAtOnce = 10;
    for (int batch = 0; batch < kAdds / kAtOnce; ++batch) {
        std::vector<QProcess *> running;
        for (int i = 0; i < kAtOnce; ++i)
            running.push_back(launch({"add", QStringLiteral("Task %1").arg(batch * kAtOnce + i)}));
        for (QProcess *process : running) {
            ASSERT_TRUE(finished(process, 120000));
            ASSERT_EQ(process->exitCode(), 0) << process->readAllStandardError().toStdString();
        }
    }

    EXPECT_EQ(titles().size(), 1 + kAdds);
    QSet<QString> titles;
    for (const auto &[id, item] : app->store().saved().items)
        titles.insert(item.title);
    EXPECT_EQ(titles.size(), 1 + kAdds);
    // The sheet counts every item; it has drawn them without being asked.
    EXPECT_TRUE(waitFor([&] { return status->text() == "101 items"; })) << status->text().toStdString();
}

TEST_F(AppProcessTest, TheAppAnswersAsTheFileDoesAndShowsItsWindowWhenLaunchedAgain)
{
    const Outcome alone = vellora({"toggle"});
    EXPECT_EQ(alone.exitCode, 1);
    EXPECT_TRUE(alone.err.contains("not running")) << alone.err.toStdString();
    vellora({"add", "Write the report", "--block", "big"});
    const Outcome fromFile = vellora({"today", "--json"});
    startApp();
    const Outcome fromApp = vellora({"today", "--json"});
    EXPECT_EQ(fromApp.exitCode, 0);
    EXPECT_EQ(fromApp.out, fromFile.out);

    const Outcome failed = vellora({"done", "nosuchitem"});
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_TRUE(failed.err.startsWith("vellora: ")) << failed.err.toStdString();
    EXPECT_EQ(vellora({"add", "x", "--block", "huge"}).exitCode, 2); // refused before it reaches the app

    // A launch without a command shows the running app's window, on the page it had; toggle hides it.
    app->window().openPage(Navigation::Page::backlog);
    app->window().mainWindow()->hide();
    const Outcome open = vellora({});
    EXPECT_EQ(open.exitCode, 0) << open.err.toStdString();
    EXPECT_TRUE(open.out.isEmpty());
    ASSERT_TRUE(waitFor([&] { return app->window().mainWindow()->isVisible(); }));
    EXPECT_EQ(app->nav().page(), Navigation::Page::backlog);
    app->window().mainWindow()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(app->window().mainWindow()));
    EXPECT_EQ(vellora({"toggle"}).exitCode, 0);
    EXPECT_TRUE(waitFor([&] { return !app->window().mainWindow()->isVisible(); }));
}

// With the disk full, the app keeps what it holds and still answers, as the command runner's own test shows: here,
// that its status and words reach the terminal.
TEST_F(AppProcessTest, VelloraTodayAnswersWhileASaveWaits)
{
    startApp();
    ASSERT_EQ(vellora({"add", "Saved first", "--block", "big"}).exitCode, 0);
    AtomicFile::setFaultInjector([](AtomicFile::Step step) { return step == AtomicFile::Step::write ? ENOSPC : 0; });
    const Outcome kept = vellora({"add", "Call Anna", "--block", "small"});
    const Outcome read = vellora({"today"});
    AtomicFile::setFaultInjector({});
    ASSERT_TRUE(app->store().save());

    EXPECT_EQ(kept.exitCode, 3);
    EXPECT_EQ(kept.err, "vellora: Vellora keeps the change but could not save it yet (disk full); it tries again\n");
    EXPECT_EQ(read.exitCode, 0) << read.err.toStdString();
    EXPECT_TRUE(read.err.startsWith("vellora: not saved yet") && read.err.count('\n') == 1) << read.err.toStdString();
    EXPECT_TRUE(read.out.contains("  5.0  Call Anna\n")) << read.out.toStdString();
    EXPECT_TRUE(titles().contains("Call Anna")) << "saved once the disk has room";
}

// A change whose answer came too late is asked for again with the same request id, and the app, which remembers
// the ids it answered, runs it once: the retry is answered as the first request was.
TEST_F(AppProcessTest, AChangeRetriedAfterALateAnswerIsAddedOnce)
{
    startApp();
    Command add;
    add.verb = Command::Verb::add;
    add.text = "Call Anna";
    QJsonObject request = InstanceChannel::commandRequest(add.toJson());
    request.insert("id", "7d0c3f4e-request");
    InstanceChannel::Client client(store);
    ASSERT_TRUE(client.connectToApp());
    // The app answers on this thread, so while the client waits on it, no answer can come: the first is late, and so
    // is the retry the client sends on a new connection.
    EXPECT_FALSE(client.askOnce(request, std::chrono::milliseconds(50)));
    ASSERT_TRUE(waitFor([&] { return !app->store().saved().items.empty(); }));

    // The person's retry of the same request, by then answered.
    QLocalSocket again;
    again.connectToServer(InstanceChannel::serverNameFor(store));
    ASSERT_TRUE(again.waitForConnected(5000));
    again.write(QJsonDocument(request).toJson(QJsonDocument::Compact) + "\n");
    ASSERT_TRUE(waitFor([&] { return again.canReadLine(); }));
    const QJsonObject answer = QJsonDocument::fromJson(again.readLine()).object();
    EXPECT_TRUE(answer.value("outcome").toObject().value("out").toString().startsWith("Added to slot.1.0: Call Anna"))
        << QJsonDocument(answer).toJson().toStdString();
    EXPECT_EQ(app->store().saved().items.size(), 1u);
    EXPECT_EQ(titles(), QStringList{"Call Anna"});

    // Another request, with an id of its own, runs.
    request.insert("id", "another-request");
    again.write(QJsonDocument(request).toJson(QJsonDocument::Compact) + "\n");
    ASSERT_TRUE(waitFor([&] { return app->store().saved().items.size() == 2; }));
}

} // namespace

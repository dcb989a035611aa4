#include "ProcessFixture.h"

#include "Vellora/Paper/PaperLabel.h"

// The command line while an app has the store open: every command goes through the app, which is then the only
// writer of the file, and a launch without a command hands over to it (apps launched alone: SyncCommandTest).

namespace {

using AppProcessTest = ProcessTest;

TEST_F(AppProcessTest, AHundredAddsWhileTheAppRunsLeaveExactlyAHundredMoreItemsInTheFileAndOnTheSheet)
{
    ASSERT_EQ(vellora({"add", "Before the app"}).exitCode, 0); // through the file: no app yet
    startApp();
    ASSERT_EQ(app->store().saved().items.size(), 1u);
    auto *status = app->mainWindow()->findChild<PaperLabel *>("sheet.status");
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
    app->openPage(Navigation::Page::backlog);
    app->mainWindow()->hide();
    const Outcome open = vellora({});
    EXPECT_EQ(open.exitCode, 0) << open.err.toStdString();
    EXPECT_TRUE(open.out.isEmpty());
    ASSERT_TRUE(waitFor([&] { return app->mainWindow()->isVisible(); }));
    EXPECT_EQ(app->nav().page(), Navigation::Page::backlog);
    app->mainWindow()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(app->mainWindow()));
    EXPECT_EQ(vellora({"toggle"}).exitCode, 0);
    EXPECT_TRUE(waitFor([&] { return !app->mainWindow()->isVisible(); }));
}

} // namespace

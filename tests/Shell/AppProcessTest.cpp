#include "ShellFixture.h"

#include "Vellora/DayData/StoreFile.h"
#include "Vellora/Paper/PaperLabel.h"
#include "Vellora/Platform/InstanceChannel.h"

#include <QProcess>

// The app as users meet it: the vellora binary launched beside a running app, which is either this test process
// (so that its window and sheet can be looked at) or another vellora.

namespace {

class AppProcessTest : public testing::Test
{
protected:
    void SetUp() override { Paper::setAnimationsEnabled(false); }

    void TearDown() override
    {
        for (const auto &process : m_processes) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished();
            }
        }
        app.reset();
    }

    QProcess *launch(QStringList arguments)
    {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_DATA_HOME", env.dir.filePath("data"));
        environment.insert("XDG_CONFIG_HOME", env.dir.filePath("config"));
        environment.insert("XDG_RUNTIME_DIR", env.dir.path());
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        process->setProcessEnvironment(environment);
        process->start(VELLORA_BINARY, arguments << "--store" << store);
        m_processes.push_back(std::move(process));
        return m_processes.back().get();
    }

    static bool finished(QProcess *process, int timeoutMs = 60000)
    {
        return waitFor([&] { return process->state() == QProcess::NotRunning; }, timeoutMs);
    }

    void startApp()
    {
        app = std::make_unique<VelloraApp>(env.options({}, store));
        ASSERT_EQ(app->start(), VelloraApp::Start::running) << app->errorString().toStdString();
        ASSERT_TRUE(waitFor([&] { return app->isLaunchFinished(); }));
    }

    qsizetype itemsInFile() const
    {
        const auto loaded = StoreFile::load(store);
        return loaded.saved ? qsizetype(loaded.saved->items.size()) : 0;
    }

    ShellTest::AppEnvironment env;
    QString store = env.dir.filePath("vellora.json");
    std::unique_ptr<VelloraApp> app;

private:
    std::vector<std::unique_ptr<QProcess>> m_processes;
};

TEST_F(AppProcessTest, ASecondLaunchShowsTheFirstAppsWindowAndEnds)
{
    startApp();
    app->openPage(Navigation::Page::backlog);
    app->mainWindow()->hide();

    QProcess *second = launch({});
    ASSERT_TRUE(finished(second)) << second->readAllStandardError().toStdString();
    EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second->exitCode(), 0) << second->readAllStandardError().toStdString();
    ASSERT_TRUE(waitFor([&] { return app->mainWindow()->isVisible(); }));
    EXPECT_EQ(app->nav().page(), Navigation::Page::backlog); // the page it had
}

TEST_F(AppProcessTest, BetweenTwoLaunchedAppsTheSecondHandsOverAndTheFirstServesCommands)
{
    QProcess *first = launch({});
    // Up once it holds the store's lock and answers on its channel.
    ASSERT_TRUE(waitFor(
        [&] {
            InstanceChannel::Client client(store);
            return first->state() == QProcess::Running && client.connectToApp(std::chrono::milliseconds(100));
        },
        60000))
        << first->readAllStandardError().toStdString();
    EXPECT_FALSE(StoreLock::tryLock(InstanceChannel::lockPathFor(store)));

    QProcess *second = launch({});
    ASSERT_TRUE(finished(second));
    EXPECT_EQ(second->exitCode(), 0) << second->readAllStandardError().toStdString();
    EXPECT_EQ(first->state(), QProcess::Running);

    QProcess *add = launch({"add", "Through the running app", "--block", "big"});
    ASSERT_TRUE(finished(add));
    EXPECT_EQ(add->exitCode(), 0) << add->readAllStandardError().toStdString();
    EXPECT_EQ(itemsInFile(), 1);
    QProcess *toggle = launch({"toggle"});
    ASSERT_TRUE(finished(toggle));
    EXPECT_EQ(toggle->exitCode(), 0) << toggle->readAllStandardError().toStdString();
    EXPECT_EQ(first->state(), QProcess::Running);
}

TEST_F(AppProcessTest, AHundredAddsWhileTheAppRunsLeaveExactlyAHundredMoreItemsInTheFileAndOnTheSheet)
{
    QProcess *before = launch({"add", "Before the app"}); // through the file: no app yet
    ASSERT_TRUE(finished(before));
    ASSERT_EQ(before->exitCode(), 0);
    startApp();
    ASSERT_EQ(app->store().saved().items.size(), 1u);
    auto *status = app->mainWindow()->findChild<PaperLabel *>("sheet.status");
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->text(), "1 item");

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

    EXPECT_EQ(itemsInFile(), 1 + kAdds);
    EXPECT_EQ(app->store().saved().items.size(), size_t(1 + kAdds));
    // The sheet counts every item; it has drawn them without being asked.
    EXPECT_TRUE(waitFor([&] { return status->text() == "101 items"; })) << status->text().toStdString();
    QSet<QString> titles;
    for (const auto &[id, item] : app->store().saved().items)
        titles.insert(item.title);
    EXPECT_EQ(titles.size(), 1 + kAdds);
}

} // namespace

#include "Vellora/Commands/CommandRunner.h"
#include "Vellora/DayData/StoreFile.h"
#include "Vellora/Platform/SingleInstance.h"
#include "Vellora/Sync/AppStore.h"
#include "cli/CommandLine.h"

#include "tests/ForkedChild.h"
#include "tests/WaitFor.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>

#include <cstring>

// The command line while an app has the store open: every command goes through the app, which is then the
// only writer of the file. Here the test plays the app, with the same store and channel the app uses.

namespace {

struct Outcome
{
    int exitCode = -1;
    QString out;
    QString err;
};

class AppChannelTest : public testing::Test
{
protected:
    void SetUp() override { qputenv("XDG_RUNTIME_DIR", dir.path().toUtf8()); }

    QTemporaryDir dir;
    QString store = dir.filePath("store.json");
    std::unique_ptr<DayStore> appStore;
    std::unique_ptr<SingleInstance> app;
    int shown = 0;
    int toggled = 0;

    void startApp()
    {
        appStore = makeAppStore(store);
        SingleInstance::Callbacks callbacks;
        callbacks.showWindow = [this] { ++shown; };
        callbacks.toggleWindow = [this] { ++toggled; };
        callbacks.runCommand = [this](const QJsonObject &command) { return runCommandRequest(command, *appStore); };
        app = std::make_unique<SingleInstance>(store, std::move(callbacks));
        ASSERT_EQ(app->start(), SingleInstance::Start::primary);
    }

    void stopApp()
    {
        app.reset();
        appStore.reset();
    }

    std::unique_ptr<QProcess> launch(QStringList arguments)
    {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_HOME", dir.filePath("data"));
        env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
        env.insert("XDG_RUNTIME_DIR", dir.path());
        process->setProcessEnvironment(env);
        process->start(VELLORA_BINARY, arguments << "--store" << store);
        return process;
    }

    // Runs vellora while this process keeps serving as the app.
    Outcome vellora(const QStringList &arguments)
    {
        const auto process = launch(arguments);
        EXPECT_TRUE(waitFor([&] { return process->state() == QProcess::NotRunning; }, 60000));
        return {process->exitCode(), QString::fromUtf8(process->readAllStandardOutput()),
                QString::fromUtf8(process->readAllStandardError())};
    }

    QByteArray storeBytes() const
    {
        QFile file(store);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    qsizetype itemsInFile() const
    {
        const auto loaded = StoreFile::load(store);
        return loaded.saved ? qsizetype(loaded.saved->items.size()) : 0;
    }
};

TEST_F(AppChannelTest, AHundredAddsWhileTheAppRunsLeaveExactlyAHundredMoreItems)
{
    vellora({"add", "before the app"}); // through the file: no app yet
    startApp();
    const qsizetype before = appStore->saved().items.size();
    ASSERT_EQ(before, 1);

    constexpr int kAdds = 100;
    constexpr int kAtOnce = 10;
    for (int batch = 0; batch < kAdds / kAtOnce; ++batch) {
        std::vector<std::unique_ptr<QProcess>> running;
        for (int i = 0; i < kAtOnce; ++i)
            running.push_back(launch({"add", QStringLiteral("Task %1").arg(batch * kAtOnce + i)}));
        ASSERT_TRUE(waitFor(
            [&] {
                return std::all_of(running.begin(), running.end(),
                                   [](const auto &p) { return p->state() == QProcess::NotRunning; });
            },
            120000));
        for (const auto &process : running)
            ASSERT_EQ(process->exitCode(), 0) << process->readAllStandardError().toStdString();
    }

    EXPECT_EQ(appStore->saved().items.size(), before + kAdds);
    EXPECT_EQ(itemsInFile(), before + kAdds);
    QSet<QString> titles;
    for (const auto &[id, item] : appStore->saved().items)
        titles.insert(item.title);
    EXPECT_EQ(titles.size(), before + kAdds);
}

TEST_F(AppChannelTest, TheAppsAnswersAreTheSameAsTheFiles)
{
    vellora({"add", "Write the report", "--block", "big"});
    const Outcome fromFile = vellora({"today", "--json"});
    startApp();
    const Outcome fromApp = vellora({"today", "--json"});
    EXPECT_EQ(fromApp.exitCode, 0);
    EXPECT_EQ(fromApp.out, fromFile.out);

    const Outcome failed = vellora({"done", "nosuchitem"});
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_TRUE(failed.err.startsWith("vellora: ")) << failed.err.toStdString();

    const Outcome bad = vellora({"add", "x", "--block", "huge"}); // refused before it reaches the app
    EXPECT_EQ(bad.exitCode, 2);
}

TEST_F(AppChannelTest, ToggleAndALaunchWithoutACommandReachTheWindow)
{
    const Outcome alone = vellora({"toggle"});
    EXPECT_EQ(alone.exitCode, 1);
    EXPECT_TRUE(alone.err.contains("not running")) << alone.err.toStdString();

    startApp();
    EXPECT_EQ(vellora({"toggle"}).exitCode, 0);
    EXPECT_EQ(toggled, 1);
    const Outcome open = vellora({});
    EXPECT_EQ(open.exitCode, 0);
    EXPECT_TRUE(open.out.isEmpty());
    EXPECT_EQ(shown, 1);

    // A launch for interface tests opens a window of its own on an empty store; it does not hand over to the app,
    // which would end it at once.
    const auto uitests = launch({"-uitests"});
    ASSERT_TRUE(uitests->waitForStarted());
    EXPECT_FALSE(waitFor([&] { return uitests->state() == QProcess::NotRunning; }, 1500))
        << uitests->readAllStandardError().toStdString();
    EXPECT_EQ(shown, 1);
    uitests->kill();
    uitests->waitForFinished();
}

TEST_F(AppChannelTest, ALongHeldLockIsNeverTakenOver)
{
    vellora({"add", "x"});
    QFile file(store);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();

    // An app that has held the lock for an hour, and does not answer (yet).
    const auto held = StoreLock::tryLock(lockPathFor(store));
    ASSERT_TRUE(held);
    const struct timeval anHourAgo[2] = {{time(nullptr) - 3600, 0}, {time(nullptr) - 3600, 0}};
    ASSERT_EQ(utimes(lockPathFor(store).toLocal8Bit().constData(), anHourAgo), 0);

    const Outcome run = vellora({"add", "y"});
    EXPECT_NE(run.exitCode, 0);
    EXPECT_TRUE(run.err.contains("in use")) << run.err.toStdString();
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), before);
}

TEST_F(AppChannelTest, ARequestOverTheSizeLimitGetsItsReasonAndChangesNothing)
{
    vellora({"add", "x"});
    startApp();
    const QByteArray before = storeBytes();
    const Outcome run = vellora({"done", QString(70000, 'a')}); // an ITEM, which the command line does not bound
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "vellora: " + InstanceChannel::requestTooLongMessage() + "\n");
    EXPECT_EQ(storeBytes(), before);
    EXPECT_EQ(vellora({"today"}).exitCode, 0) << "the app goes on serving";
}

TEST_F(AppChannelTest, AListenerOfARealOtherUserIsNeverSpokenTo)
{
    const auto nobody = OtherUser::nobody();
    if (!nobody)
        GTEST_SKIP() << "needs root, to listen as the user nobody; running as uid " << ::geteuid();
    // Another user's process listening at the app's socket: it counts what each connection brings.
    const QByteArray name = QFile::encodeName(InstanceChannel::serverNameFor(store));
    ForkedChild listener([&](int report, int) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
        if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
            ::chown(name.constData(), nobody->uid, nobody->gid) != 0 || !nobody->become() || ::listen(fd, 8) != 0)
            return 3;
        ForkedChild::reportNumber(report, -1); // listening
        for (;;) {
            const int connection = ::accept(fd, nullptr, nullptr);
            qint64 received = 0;
            char buffer[4096];
            ssize_t got;
            while ((got = ::recv(connection, buffer, sizeof buffer, 0)) > 0)
                received += got;
            ::close(connection);
            ForkedChild::reportNumber(report, received);
        }
    });
    ASSERT_TRUE(listener.started());
    ASSERT_EQ(listener.number(10000), -1);

    for (const QStringList &arguments : {QStringList{"add", "the secret task"}, QStringList{"toggle"}, QStringList{}}) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        const Outcome run = vellora(arguments);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_TRUE(run.err.contains(QString::fromUtf8(name) + " is owned by another user (uid " +
                                     QString::number(nobody->uid) + "); refusing to talk to it"))
            << run.err.toStdString();
        EXPECT_EQ(run.err.count('\n'), 1);
        EXPECT_EQ(listener.number(10000), 0) << "not a byte reached it";
        EXPECT_FALSE(QFile::exists(store));
    }
}

} // namespace

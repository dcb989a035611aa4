// Two running apps, each a vellora process on a computer of its own signed in to the same user of one server: a
// task added through the first one's command line shows in the second one's store through the server's push. The
// apps never poll, so nothing else could bring it.
#include "SyncKit/HttpCloud.h"
#include "Vellora/DayData/StoreFile.h"

#include "tests/Cloud/CloudServerProcess.h"
#include "tests/Cloud/RawHttp.h"
#include "tests/cli/Computer.h"

#include <QElapsedTimer>

#include <cstdio>

namespace {

// The server's count of signed-in push sockets, from its metrics; -1 when they cannot be read.
int pushSockets(quint16 port)
{
    const QByteArray metrics = rawRequest(port, "/metrics", {}, {}, {}, "GET").body;
    const QByteArray name = "\nvellora_cloud_push_sockets ";
    const qsizetype at = metrics.indexOf(name);
    if (at < 0)
        return -1;
    return metrics.mid(at + name.size(), metrics.indexOf('\n', at + name.size()) - at - name.size()).toInt();
}

bool holds(const QString &storePath, const QString &title)
{
    const auto loaded = StoreFile::load(storePath);
    if (!loaded.saved)
        return false;
    for (const auto &[id, item] : loaded.saved->items) {
        if (item.title == title)
            return true;
    }
    return false;
}

} // namespace

TEST(AppPushTest, ATaskAddedInOneRunningAppReachesTheOtherRunningAppThroughPush)
{
    CloudServerProcess server;
    ASSERT_TRUE(server.start()) << server.error().toStdString();
    const QString token = server.addUser("anna");
    Computer first, second;
    for (const Computer *computer : {&first, &second}) {
        const Outcome signedIn = computer->run({"account", "sign-in", server.url(), "anna"}, token.toUtf8() + '\n');
        ASSERT_EQ(signedIn.exitCode, 0) << signedIn.err.toStdString();
    }
    // A third device that only listens: its push tells when the server has the task.
    SyncKit::HttpCloud watcher(SyncKit::CloudAccount{server.url(), "anna", token});
    QElapsedTimer clock;
    qint64 storedMs = -1;
    QObject::connect(&watcher, &SyncKit::CloudDatabase::databaseChanged, [&] {
        if (clock.isValid() && storedMs < 0)
            storedMs = clock.elapsed();
    });

    QProcess &firstApp = first.startApp();
    QProcess &secondApp = second.startApp();
    // Both apps are up and listening once the server counts their push sockets beside the watcher's, and each has
    // made its first round (the zone is there).
    ASSERT_TRUE(waitFor(
        [&] {
            return pushSockets(server.port()) == 3 && first.json({"account", "status"}).contains("lastSync") &&
                   second.json({"account", "status"}).contains("lastSync");
        },
        60000));

    const QString title = QStringLiteral("Written in the first app");
    clock.start();
    const Outcome added = first.run({"add", title});
    ASSERT_EQ(added.exitCode, 0) << added.err.toStdString();
    const qint64 addedMs = clock.elapsed();
    // The second app writes its store once it has applied what it fetched.
    ASSERT_TRUE(waitFor([&] { return holds(second.storePath(), title); }, 60000));
    const qint64 seenMs = clock.elapsed();
    std::printf("[ latency  ] add command done %lld ms; on the server %lld ms (after the app's send delay); "
                "in the second app's store %lld ms, %lld ms after the server had it\n",
                qlonglong(addedMs), qlonglong(storedMs), qlonglong(seenMs), qlonglong(seenMs - storedMs));

    // The command went through the first app, which still runs and holds the store: no second writer.
    EXPECT_EQ(firstApp.state(), QProcess::Running);
    EXPECT_EQ(secondApp.state(), QProcess::Running);
    EXPECT_TRUE(holds(first.storePath(), title));
    EXPECT_GE(storedMs, 0);
}

#include "tests/Cloud/CloudServerProcess.h"
#include "tests/Cloud/RawHttp.h"
#include "tests/cli/Computer.h"

#include <QElapsedTimer>

#include <cstdio>

// `vellora account` and `vellora sync` against a real vellora-cloud on 127.0.0.1, and running apps that hear each
// other's changes through its push.

namespace {

class SyncCommandTest : public testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(server.start()) << server.error().toStdString(); }

    void signIn(Computer &computer)
    {
        const Outcome outcome = computer.run({"account", "sign-in", server.url(), "anna"}, {}, token.toUtf8() + '\n');
        ASSERT_EQ(outcome.exitCode, 0) << outcome.err.toStdString();
    }

    CloudServerProcess server;
    QString token = server.addUser("anna");
};

// Sign-in keeps only a token the server takes, in a file of the user's alone; a change waits while it cannot be
// sent, with the reason told, and goes out once it can.
TEST_F(SyncCommandTest, SignInAndSyncCarryATaskBetweenTwoComputers)
{
    Computer first, second;
    ASSERT_EQ(first.run({"add", "Written on the first"}).exitCode, 0);
    const Outcome signedOut = first.run({"sync"});
    EXPECT_NE(signedOut.exitCode, 0);
    EXPECT_TRUE(signedOut.err.contains("not signed in")) << signedOut.err.toStdString();
    // A token the server does not know, or no server at all: nothing is kept, and the token is never shown.
    for (const bool serverUp : {true, false}) {
        if (!serverUp)
            server.stop();
        const QString tried = serverUp ? QStringLiteral("not-a-token-of-this-server") : token;
        const Outcome outcome = first.run({"account", "sign-in", server.url(), "anna"}, {}, tried.toUtf8() + '\n');
        EXPECT_EQ(outcome.exitCode, 1);
        EXPECT_TRUE(outcome.err.contains(serverUp ? "the server refused this token" : "the server cannot be reached"));
        EXPECT_FALSE(outcome.err.contains(tried)) << outcome.err.toStdString();
        EXPECT_FALSE(QFile::exists(first.accountFile()));
    }
    ASSERT_TRUE(server.start());
    signIn(first);
    signIn(second);
    EXPECT_EQ(QFile::permissions(first.accountFile()),
              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser);

    server.stop();
    const Outcome down = first.run({"sync"});
    EXPECT_NE(down.exitCode, 0);
    EXPECT_EQ(down.err.count('\n'), 1);
    EXPECT_TRUE(down.err.contains("the server cannot be reached")) << down.err.toStdString();
    EXPECT_FALSE(first.json({"account", "status"}).value("lastSync").toObject().value("ok").toBool(true));

    ASSERT_TRUE(server.start());
    ASSERT_EQ(first.run({"sync"}).exitCode, 0);
    ASSERT_EQ(second.run({"sync"}).exitCode, 0);
    EXPECT_TRUE(second.run({"today"}).out.contains("Written on the first"));
    // Back the other way, and the last round noted for both the app and the command line to read.
    ASSERT_EQ(second.run({"done", "1.0"}).exitCode, 0);
    ASSERT_EQ(second.run({"sync"}).exitCode, 0);
    ASSERT_EQ(first.run({"sync"}).exitCode, 0);
    EXPECT_TRUE(first.json({"today"}).value("items").toArray().first().toObject().value("done").toBool());
    EXPECT_TRUE(first.json({"account", "status"}).value("lastSync").toObject().value("ok").toBool());
    EXPECT_EQ(first.run({"account", "sign-out"}).exitCode, 0);
    EXPECT_FALSE(QFile::exists(first.accountFile()));
    signIn(first);

    // The apps never poll, so only the server's push can bring a task to the second one; the command goes through
    // the running app, which stays the only writer of its store.
    QProcess *firstApp = first.launch({});
    QProcess *secondApp = second.launch({});
    ASSERT_TRUE(waitFor(
        [&] {
            const QByteArray metrics = rawRequest(server.port(), "/metrics", {}, {}, {}, "GET").body;
            return metrics.contains("\nvellora_cloud_push_sockets 2\n");
        },
        60000));
    const QString title = QStringLiteral("Written in the first app");
    QElapsedTimer clock;
    clock.start();
    ASSERT_EQ(first.run({"add", title}).exitCode, 0);
    ASSERT_TRUE(waitFor([&] { return second.titles().contains(title); }, 60000));
    std::printf("[ latency  ] in the second app's store %lld ms after the add command started\n", clock.elapsed());
    EXPECT_EQ(firstApp->state(), QProcess::Running);
    EXPECT_EQ(secondApp->state(), QProcess::Running);
    EXPECT_TRUE(first.titles().contains(title));
}

} // namespace

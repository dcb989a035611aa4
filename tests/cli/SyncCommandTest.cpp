#include "SyncKit/CloudAccount.h"
#include "SyncKit/CloudProtocol.h"
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
        const Outcome outcome = signInAs(computer, "anna", token);
        ASSERT_EQ(outcome.exitCode, 0) << outcome.err.toStdString();
    }

    Outcome signInAs(Computer &computer, const QString &user, const QString &userToken,
                     const QStringList &extraEnv = {})
    {
        return computer.signIn(server.url(), user, userToken, "a sync passphrase of test", {}, extraEnv);
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
    // A token the server does not know, another user's (whose it is, the server says), or no server at all: nothing
    // is kept, and the token is never shown.
    server.addUser("bob");
    const struct
    {
        const char *user;
        QString token;
        QString said;
    } refusals[] = {
        {"anna", "not-a-token-of-this-server", "the server refused this token"},
        {"bob", token, "this token is anna's, not bob's"},
        {"anna", token, "the server cannot be reached"}, // last: the server is stopped for it
    };
    for (const auto &refusal : refusals) {
        if (refusal.said.contains("reached"))
            server.stop();
        const Outcome outcome = first.run({"account", "sign-in", server.url(), refusal.user}, {}, refusal.token.toUtf8() + '\n');
        EXPECT_EQ(outcome.exitCode, 1);
        EXPECT_TRUE(outcome.err.contains(refusal.said)) << outcome.err.toStdString();
        EXPECT_FALSE(outcome.err.contains(refusal.token)) << outcome.err.toStdString();
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

// https:// given for a server that speaks plain HTTP: sign-in, and the sync and status of an account file that names
// it, say which address to use rather than how the handshake failed.
TEST_F(SyncCommandTest, HttpsForAPlainServerSaysWhichAddressToUse)
{
    Computer computer;
    const QString https = QStringLiteral("https://127.0.0.1:%1").arg(server.port());
    const QString advice = QStringLiteral("the server speaks plain HTTP: use %1").arg(server.url());
    const Outcome refused = computer.run({"account", "sign-in", https, "anna"}, {}, token.toUtf8() + '\n');
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(refused.err.contains(advice)) << refused.err.toStdString();
    EXPECT_FALSE(QFile::exists(computer.accountFile()));

    computer.writeAccount({https, "anna", token});
    const Outcome synced = computer.run({"sync"});
    EXPECT_NE(synced.exitCode, 0);
    EXPECT_TRUE(synced.err.contains(advice)) << synced.err.toStdString();
    const Outcome status = computer.run({"account", "status"});
    EXPECT_TRUE(status.out.contains("Not connected since")) << status.out.toStdString();
    EXPECT_TRUE(status.out.contains(advice)) << status.out.toStdString();
    EXPECT_TRUE(status.out.contains("Not encrypted")) << "an account file of before, without the key";
}

// Without a window: signing out sends what waits and takes anna's tasks off the computer, a task made then belongs
// to no account and joins bob's planner at his sign-in, and a change made while signed in is sent by the command.
TEST_F(SyncCommandTest, TasksMadeWhileSignedOutJoinTheNextAccount)
{
    Computer computer, annasOther, bobsOther;
    const QString bobToken = server.addUser("bob");
    signIn(computer);
    server.stop();
    ASSERT_EQ(computer.run({"add", "anna's task"}).exitCode, 0); // waits
    ASSERT_TRUE(server.start());
    const Outcome out = computer.run({"account", "sign-out"});
    ASSERT_EQ(out.exitCode, 0) << out.err.toStdString();
    EXPECT_TRUE(out.out.contains("anna's tasks left this computer")) << out.out.toStdString();
    EXPECT_TRUE(computer.titles().isEmpty());
    signIn(annasOther);
    ASSERT_EQ(annasOther.run({"sync"}).exitCode, 0);
    // A machine too busy to send within the second says so, and the task left with the account.
    if (out.err.isEmpty())
        EXPECT_EQ(annasOther.titles(), QStringList({"anna's task"}));
    else
        EXPECT_TRUE(out.err.contains("1 change(s) had not reached the server (the server did not answer within 1 s)"))
            << out.err.toStdString();

    ASSERT_EQ(computer.run({"add", "made while signed out"}).exitCode, 0);
    const Outcome bob = signInAs(computer, "bob", bobToken);
    ASSERT_EQ(bob.exitCode, 0) << bob.err.toStdString();
    EXPECT_TRUE(bob.out.contains("The 1 task(s) made while signed out join bob's planner.")) << bob.out.toStdString();
    ASSERT_EQ(computer.run({"sync"}).exitCode, 0);
    const Outcome sent = computer.run({"add", "sent by the command"});
    EXPECT_EQ(sent.exitCode, 0);
    // A machine too busy to send within the second says so, and the change goes with the next sync.
    if (!sent.err.isEmpty()) {
        EXPECT_TRUE(sent.err.contains("the server did not answer within 1 s")) << sent.err.toStdString();
        ASSERT_EQ(computer.run({"sync"}).exitCode, 0);
    }

    ASSERT_EQ(signInAs(bobsOther, "bob", server.addUser("bob")).exitCode, 0);
    ASSERT_EQ(bobsOther.run({"sync"}).exitCode, 0);
    EXPECT_EQ(bobsOther.titles(), QStringList({"made while signed out", "sent by the command"}));

    // With the server gone, a change waits, and the command says so without failing.
    server.stop();
    const Outcome waits = computer.run({"add", "waits"});
    EXPECT_EQ(waits.exitCode, 0);
    EXPECT_TRUE(waits.err.contains("the change waits here")) << waits.err.toStdString();
    const Outcome status = computer.run({"account", "status"});
    EXPECT_TRUE(status.out.contains("Not connected since")) << status.out.toStdString();
    EXPECT_TRUE(status.out.contains(QStringLiteral("at %1.").arg(server.url()))) << status.out.toStdString();
}

// With the window running, `account sign-out` has the app send what waits before the account's tasks leave it.
TEST_F(SyncCommandTest, SignOutWithTheWindowRunningSendsWhatWaitsFirst)
{
    Computer computer, annasOther;
    signIn(computer);
    computer.launch({});
    ASSERT_TRUE(waitFor(
        [&] {
            return computer.json({"account", "status"}).value("connected") == QJsonValue(true);
        },
        60000));
    ASSERT_EQ(computer.run({"add", "made just before signing out"}).exitCode, 0);
    const Outcome out = computer.run({"account", "sign-out"});
    ASSERT_EQ(out.exitCode, 0) << out.err.toStdString();
    EXPECT_TRUE(out.out.contains("anna's tasks left this computer")) << out.out.toStdString();
    ASSERT_TRUE(waitFor([&] { return computer.titles().isEmpty(); }, 60000));
    signIn(annasOther);
    ASSERT_EQ(annasOther.run({"sync"}).exitCode, 0);
    // A machine too busy to send within the second says so, and the task left with the account.
    if (out.err.isEmpty())
        EXPECT_EQ(annasOther.titles(), QStringList({"made just before signing out"}));
    else
        EXPECT_TRUE(out.err.contains("1 change(s) had not reached the server")) << out.err.toStdString();
}

// With the window running and nothing to send, a server that goes away is said at once, and its return too, without
// anyone syncing by hand.
TEST_F(SyncCommandTest, TheStatusSaysWhileThePushChannelIsDownAndAgainOnceItIsBack)
{
    Computer computer;
    signIn(computer);
    computer.launch({});
    const auto connected = [&] { return computer.json({"account", "status"}).value("connected"); };
    ASSERT_TRUE(waitFor([&] { return connected() == QJsonValue(true); }, 60000));
    server.stop();
    ASSERT_TRUE(waitFor([&] { return connected() == QJsonValue(false); }, 60000));
    EXPECT_TRUE(computer.run({"account", "status"}).out.contains("Not connected since"));
    ASSERT_TRUE(server.start());
    ASSERT_TRUE(waitFor([&] { return connected() == QJsonValue(true); }, 60000));
    EXPECT_TRUE(computer.run({"account", "status"}).out.contains("Last sync:"));
}

} // namespace

// A day is the Gregorian date in the computer's time zone, whatever calendar its locale prefers: a computer set to
// Thai (whose calendar counts Buddhist years) and one set to English, synced through one server, show the same
// tasks on the same Today, and every task they write carries that day. The locales need not be installed: the
// calendar would follow them all the same.
TEST_F(SyncCommandTest, AThaiAndAnEnglishComputerAgreeOnToday)
{
    Computer english, thai;
    const QStringList inEnglish{"LC_ALL=en_US.UTF-8", "LC_TIME=en_US.UTF-8", "LANG=en_US.UTF-8"};
    const QStringList inThai{"LC_ALL=th_TH.UTF-8", "LC_TIME=th_TH.UTF-8", "LANG=th_TH.UTF-8"};
    const auto dateNow = [] { return QDate::currentDate().toString(Qt::ISODate); };
    const QString dayBefore = dateNow();

    const auto run = [&](Computer &computer, const QStringList &arguments) {
        const Outcome outcome = computer.run(arguments, &computer == &english ? inEnglish : inThai);
        EXPECT_EQ(outcome.exitCode, 0) << arguments.join(' ').toStdString() << ": " << outcome.err.toStdString();
    };
    for (Computer *computer : {&english, &thai})
        ASSERT_EQ(signInAs(*computer, "anna", token, computer == &english ? inEnglish : inThai).exitCode, 0);
    run(english, {"add", "Written in English"});
    run(english, {"sync"});
    run(thai, {"sync"});
    run(thai, {"add", "Written in Thai"});
    run(thai, {"sync"});
    run(english, {"sync"});

    const auto today = [](Computer &computer, const QStringList &locale) {
        return QJsonDocument::fromJson(computer.run({"today", "--json"}, locale).out.toUtf8()).object();
    };
    // Twice on the Thai computer: a launch on the same day keeps the sheet.
    today(thai, inThai);
    const QJsonObject onEnglish = today(english, inEnglish), onThai = today(thai, inThai);
    const QString dayAfter = dateNow();
    EXPECT_TRUE(onEnglish.value("day") == dayBefore || onEnglish.value("day") == dayAfter)
        << onEnglish.value("day").toString().toStdString();
    EXPECT_EQ(onThai.value("day").toString().toStdString(), onEnglish.value("day").toString().toStdString());
    EXPECT_EQ(thai.titles(), QStringList({"Written in English", "Written in Thai"}));
    EXPECT_EQ(onThai.value("items"), onEnglish.value("items"));

    for (const Computer *computer : {&english, &thai}) {
        const auto loaded = StoreFile::load(computer->store);
        ASSERT_TRUE(loaded.saved);
        for (const auto &[id, item] : loaded.saved->items)
            EXPECT_EQ(item.day, onEnglish.value("day").toString())
                << item.title.toStdString() << " on " << item.day.toStdString();
    }
}

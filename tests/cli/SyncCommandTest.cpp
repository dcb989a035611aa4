#include "Vellora/Platform/SingleInstance.h"
#include "Vellora/Sync/AppSync.h"
#include "Vellora/Sync/AppStore.h"

#include "tests/Cloud/CloudServerProcess.h"
#include "tests/WaitFor.h"
#include "tests/cli/Computer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// `vellora account` and `vellora sync` against a real vellora-cloud on 127.0.0.1.

namespace {

class SyncCommandTest : public testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(server.start()) << server.error().toStdString(); }

    void signIn(const Computer &computer)
    {
        const Outcome outcome = computer.run({"account", "sign-in", server.url(), "anna"}, token.toUtf8() + '\n');
        ASSERT_EQ(outcome.exitCode, 0) << outcome.err.toStdString();
    }

    CloudServerProcess server;
    QString token = server.addUser("anna");
};

TEST_F(SyncCommandTest, SignInWritesThePrivateAccountFileOnlyForATokenTheServerTakes)
{
    struct Case
    {
        const char *name;
        bool good;
        bool serverUp;
        const char *error;
    };
    for (const Case &c :
         {Case{"good token", true, true, ""}, Case{"refused token", false, true, "the server refused this token"},
          Case{"server down", true, false, "the server cannot be reached"}}) {
        SCOPED_TRACE(c.name);
        Computer computer;
        if (!c.serverUp)
            server.stop();
        const QString given = c.good ? token : QStringLiteral("not-a-token-of-this-server");
        const Outcome outcome = computer.run({"account", "sign-in", server.url(), "anna"}, given.toUtf8() + '\n');
        if (!c.serverUp) {
            ASSERT_TRUE(server.start());
        }
        EXPECT_EQ(outcome.exitCode, c.good && c.serverUp ? 0 : 1);
        EXPECT_TRUE(outcome.err.contains(QLatin1String(c.error))) << outcome.err.toStdString();
        EXPECT_FALSE((outcome.out + outcome.err).contains(given)); // a token is never shown
        EXPECT_EQ(QFile::exists(computer.accountFile()), c.good && c.serverUp);
        const QJsonObject status = computer.json({"account", "status"});
        EXPECT_EQ(status.value("signedIn").toBool(), c.good && c.serverUp);
        if (c.good && c.serverUp) {
            EXPECT_EQ(QFile::permissions(computer.accountFile()), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                                      QFileDevice::ReadUser | QFileDevice::WriteUser);
            EXPECT_EQ(status.value("user").toString(), "anna");
            EXPECT_EQ(computer.run({"account", "sign-out"}).exitCode, 0);
            EXPECT_FALSE(QFile::exists(computer.accountFile()));
        }
    }
}

TEST_F(SyncCommandTest, ATaskAddedOnOneComputerReachesTheOtherThroughVelloraSync)
{
    Computer first, second;
    signIn(first);
    signIn(second);
    ASSERT_EQ(first.run({"add", "Written on the first"}).exitCode, 0);
    const Outcome sent = first.run({"sync"});
    ASSERT_EQ(sent.exitCode, 0) << sent.err.toStdString();
    const Outcome fetched = second.run({"sync"});
    ASSERT_EQ(fetched.exitCode, 0) << fetched.err.toStdString();
    EXPECT_TRUE(second.run({"today"}).out.contains("Written on the first"));

    // Back the other way, and the last round noted for both the app and the command line to read.
    ASSERT_EQ(second.run({"done", "1.0"}).exitCode, 0);
    ASSERT_EQ(second.run({"sync"}).exitCode, 0);
    ASSERT_EQ(first.run({"sync"}).exitCode, 0);
    const QJsonArray items = first.json({"today"}).value("items").toArray();
    ASSERT_EQ(items.size(), 1);
    EXPECT_TRUE(items[0].toObject().value("done").toBool());
    EXPECT_TRUE(first.json({"account", "status"}).value("lastSync").toObject().value("ok").toBool());
}

TEST_F(SyncCommandTest, SyncFailsWithTheReasonWhenNotSignedInOrTheServerIsDown)
{
    Computer computer;
    ASSERT_EQ(computer.run({"add", "Waits for the server"}).exitCode, 0);
    const Outcome signedOut = computer.run({"sync"});
    EXPECT_NE(signedOut.exitCode, 0);
    EXPECT_TRUE(signedOut.err.contains("not signed in")) << signedOut.err.toStdString();

    signIn(computer);
    server.stop();
    const Outcome down = computer.run({"sync"});
    EXPECT_NE(down.exitCode, 0);
    EXPECT_EQ(down.err.count('\n'), 1);
    EXPECT_TRUE(down.err.contains("the server cannot be reached")) << down.err.toStdString();
    const QJsonObject last = computer.json({"account", "status"}).value("lastSync").toObject();
    EXPECT_FALSE(last.value("ok").toBool(true));

    // Nothing was lost: once the server is back, the change goes out.
    ASSERT_TRUE(server.start());
    EXPECT_EQ(computer.run({"sync"}).exitCode, 0);
}

TEST_F(SyncCommandTest, SyncGoesThroughTheRunningAppWhichStaysTheOnlyWriter)
{
    Computer app, other;
    signIn(app);
    signIn(other);
    ASSERT_EQ(other.run({"add", "From the other computer"}).exitCode, 0);
    ASSERT_EQ(other.run({"sync"}).exitCode, 0);

    // This test process plays the app of the first computer, with the app's store, sync and channel.
    qputenv("XDG_RUNTIME_DIR", app.runtime().toUtf8());
    AppSync sync(app.accountFile());
    SyncSetup setup = sync.setup();
    setup.timing.sendDelay = std::chrono::hours(1); // only the command's round works
    setup.timing.fetchDelay = std::chrono::hours(1);
    auto store = makeAppStore(app.storePath(), setup);
    sync.attach(*store);
    SingleInstance instance(app.storePath(), {{}, {}, {}, [&](auto reply) {
                                                  sync.syncNow([reply](const std::optional<QString> &reason) {
                                                      reply(reason ? InstanceChannel::errorAnswer(*reason)
                                                                   : InstanceChannel::okAnswer());
                                                  });
                                              }});
    ASSERT_EQ(instance.start(), SingleInstance::Start::primary);

    QProcess command;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_DATA_HOME", QFileInfo(app.storePath()).absolutePath() + "/../..");
    env.insert("XDG_CONFIG_HOME", app.config());
    env.insert("XDG_RUNTIME_DIR", app.runtime());
    command.setProcessEnvironment(env);
    command.start(VELLORA_BINARY, {"sync", "--store", app.storePath()});
    ASSERT_TRUE(waitFor([&] { return command.state() == QProcess::NotRunning; }, 60000));
    EXPECT_EQ(command.exitCode(), 0) << command.readAllStandardError().toStdString();
    ASSERT_EQ(store->saved().items.size(), 1u);
    EXPECT_EQ(store->saved().items.begin()->second.title, "From the other computer");
}

} // namespace

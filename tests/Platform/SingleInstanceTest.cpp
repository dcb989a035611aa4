#include "Vellora/Platform/SingleInstance.h"

#include <QFile>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include "tests/WaitFor.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <future>
#include <optional>

using namespace std::chrono_literals;

namespace {

class SingleInstanceTest : public testing::Test
{
protected:
    void SetUp() override { qputenv("XDG_RUNTIME_DIR", dir.path().toUtf8()); }

    QTemporaryDir dir;
    QString store = dir.filePath("vellora.json");
    int shown = 0;
    int toggled = 0;
    QJsonObject lastCommand;

    SingleInstance::Callbacks callbacks()
    {
        return {[this] { ++shown; }, [this] { ++toggled; },
                [this](const QJsonObject &command) {
                    lastCommand = command;
                    return QJsonObject{{"exitCode", 0}, {"out", "done\n"}};
                }};
    }

    // A second app starts on another thread, since this one must answer it.
    SingleInstance::Start startSecond()
    {
        auto result = std::async(std::launch::async, [this] {
            SingleInstance second(store, {});
            return second.start(2s);
        });
        EXPECT_TRUE(waitFor([&] { return result.wait_for(0ms) == std::future_status::ready; }, 30000));
        return result.get();
    }

    QJsonObject askRaw(const QByteArray &line)
    {
        QLocalSocket socket;
        socket.connectToServer(InstanceChannel::serverNameFor(store));
        EXPECT_TRUE(socket.waitForConnected(5000));
        socket.write(line);
        EXPECT_TRUE(waitFor([&] { return socket.canReadLine(); }, 10000));
        return QJsonDocument::fromJson(socket.readLine()).object();
    }
};

TEST_F(SingleInstanceTest, ASecondLaunchHandsOverToTheFirst)
{
    std::optional<SingleInstance> first;
    first.emplace(store, callbacks());
    ASSERT_EQ(first->start(), SingleInstance::Start::primary) << first->errorString().toStdString();
    EXPECT_TRUE(first->isListening());
    EXPECT_TRUE(QFile::exists(InstanceChannel::lockPathFor(store)));

    EXPECT_EQ(startSecond(), SingleInstance::Start::handedOver);
    EXPECT_EQ(shown, 1);

    // Once the first has ended, the next launch is the first again.
    first.reset();
    EXPECT_EQ(startSecond(), SingleInstance::Start::primary);
}

TEST_F(SingleInstanceTest, EachStoreHasItsOwnApp)
{
    SingleInstance first(store, callbacks());
    ASSERT_EQ(first.start(), SingleInstance::Start::primary);
    SingleInstance other(dir.filePath("other.json"), callbacks());
    EXPECT_EQ(other.start(), SingleInstance::Start::primary);
    EXPECT_NE(InstanceChannel::serverNameFor(store), InstanceChannel::serverNameFor(dir.filePath("other.json")));
    EXPECT_EQ(InstanceChannel::serverNameFor(store), InstanceChannel::serverNameFor(dir.filePath("./vellora.json")));
}

TEST_F(SingleInstanceTest, WhatACrashedAppLeftBehindDoesNotBlockTheNextStart)
{
    // A lock of a process that has ended, and its socket file.
    QProcess ended;
    ended.start("true");
    ASSERT_TRUE(ended.waitForStarted(10000));
    const qint64 endedPid = ended.processId();
    ASSERT_TRUE(ended.waitForFinished(10000));
    QFile lock(InstanceChannel::lockPathFor(store));
    ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
    lock.write(QByteArray::number(endedPid) + "\nvellora\n" + QSysInfo::machineHostName().toUtf8() + "\n");
    lock.close();
    QFile socketFile(InstanceChannel::serverNameFor(store));
    ASSERT_TRUE(socketFile.open(QIODevice::WriteOnly));
    socketFile.close();

    SingleInstance app(store, callbacks());
    EXPECT_EQ(app.start(1s), SingleInstance::Start::primary);
    EXPECT_TRUE(app.isListening()) << app.errorString().toStdString();
}

TEST_F(SingleInstanceTest, ALockHeldByAnotherProcessThatDoesNotListenFailsClearly)
{
    const auto held = StoreLock::tryLock(InstanceChannel::lockPathFor(store));
    ASSERT_TRUE(held);
    SingleInstance app(store, callbacks());
    EXPECT_EQ(app.start(200ms), SingleInstance::Start::failed);
    EXPECT_TRUE(app.errorString().contains("in use")) << app.errorString().toStdString();
}

TEST_F(SingleInstanceTest, RequestsAreAnsweredAndBadOnesRefused)
{
    SingleInstance app(store, callbacks());
    ASSERT_EQ(app.start(), SingleInstance::Start::primary);

    EXPECT_EQ(askRaw("{\"request\":\"toggleWindow\"}\n").value("ok"), QJsonValue(true));
    EXPECT_EQ(toggled, 1);

    const QJsonObject command{{"verb", "add"}, {"text", "Call the bank"}};
    const QJsonObject answer =
        askRaw(QJsonDocument(InstanceChannel::commandRequest(command)).toJson(QJsonDocument::Compact) + "\n");
    EXPECT_EQ(answer.value("outcome").toObject().value("out").toString(), "done\n");
    EXPECT_EQ(lastCommand, command);

    for (const QByteArray &bad : {QByteArray("not json\n"), QByteArray("{\"request\":\"format\"}\n"),
                                  QByteArray("{\"request\":\"command\",\"command\":5}\n"), QByteArray("[]\n")}) {
        const QJsonObject refused = askRaw(bad);
        EXPECT_EQ(refused.value("ok"), QJsonValue(false)) << bad.toStdString();
        EXPECT_FALSE(refused.value("error").toString().isEmpty());
    }
    EXPECT_EQ(toggled, 1);
    EXPECT_EQ(shown, 0);
}

TEST_F(SingleInstanceTest, AnEndlessLineIsCutOff)
{
    SingleInstance app(store, callbacks());
    ASSERT_EQ(app.start(), SingleInstance::Start::primary);
    QLocalSocket socket;
    socket.connectToServer(InstanceChannel::serverNameFor(store));
    ASSERT_TRUE(socket.waitForConnected(5000));
    const QByteArray chunk(64 * 1024, 'x');
    for (int i = 0; i < 40 && socket.state() == QLocalSocket::ConnectedState; ++i) {
        socket.write(chunk);
        QTest::qWait(0);
        socket.flush();
    }
    EXPECT_TRUE(waitFor([&] { return socket.state() == QLocalSocket::UnconnectedState; }, 20000));
    // The app still serves others.
    EXPECT_EQ(askRaw("{\"request\":\"showWindow\"}\n").value("ok"), QJsonValue(true));
}

TEST(StoreLock, OneHolderAtATimeAndNoneAfterItsProcessDies)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("vellora.json.lock");
    {
        const auto first = StoreLock::tryLock(path);
        ASSERT_TRUE(first);
        EXPECT_FALSE(StoreLock::tryLock(path));
    }
    EXPECT_TRUE(StoreLock::tryLock(path)) << "free again once its holder lets go";

    // A holder killed outright leaves no lock behind.
    QProcess holder;
    holder.start("flock", {"--close", path, "sleep", "20"}); // the lock stays with flock itself
    ASSERT_TRUE(holder.waitForStarted(10000));
    ASSERT_TRUE(waitFor([&] { return !StoreLock::tryLock(path); }, 10000));
    holder.kill();
    holder.waitForFinished(10000);
    EXPECT_TRUE(StoreLock::tryLock(path));
}

TEST_F(SingleInstanceTest, AnAppThatHangsUpGivesNoAnswerAndNoCrash)
{
    // A socket that takes the connection into its queue and then goes away without ever reading it.
    const QByteArray name = QFile::encodeName(InstanceChannel::serverNameFor(store));
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 4), 0);

    InstanceChannel::Client client(store);
    ASSERT_TRUE(client.connectToApp());
    ::close(listener);
    EXPECT_FALSE(client.ask(QJsonObject{{"request", QString(200000, 'x')}}, 2s));
    EXPECT_FALSE(InstanceChannel::Client(store).connectToApp(100ms)) << "nobody listens any more";
}

} // namespace

#include "Vellora/Platform/RuntimeFolder.h"
#include "Vellora/Platform/SingleInstance.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include "tests/ForkedChild.h"
#include "tests/WaitFor.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <future>
#include <optional>

using namespace std::chrono_literals;

namespace {

// Stands for a socket of another user in this process: the user id that both sides of the channel expect is
// another than this process's own while it lives.
struct AnotherUsersChannel
{
    AnotherUsersChannel() { InstanceChannel::setExpectedPeerUidForTesting(::geteuid() + 1); }
    ~AnotherUsersChannel() { InstanceChannel::setExpectedPeerUidForTesting(std::nullopt); }
};

mode_t modeOf(const QString &path)
{
    struct stat info;
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : mode_t(0);
}

// A socket listening at `path` that takes connections into its queue and never answers.
int listenAt(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    if (::bind(listener, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(listener, 4) != 0) {
        ::close(listener);
        return -1;
    }
    return listener;
}

// Everything that arrives on a connection until the other side closes it (or 5 s pass).
QByteArray readToEnd(int fd)
{
    QByteArray all;
    for (;;) {
        pollfd entry{fd, POLLIN, 0};
        if (::poll(&entry, 1, 5000) <= 0)
            return all + "<no end>";
        char buffer[4096];
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0)
            return all;
        all.append(buffer, got);
    }
}

class SingleInstanceTest : public testing::Test
{
protected:
    void SetUp() override { qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8()); }

    QTemporaryDir runtime; // the user's runtime folder: made 0700
    QTemporaryDir dir;
    QString store = dir.filePath("vellora.json");
    int shown = 0;
    int toggled = 0;
    QJsonObject lastCommand;

    SingleInstance::Callbacks callbacks()
    {
        SingleInstance::Callbacks callbacks;
        callbacks.showWindow = [this] { ++shown; };
        callbacks.toggleWindow = [this] { ++toggled; };
        callbacks.runCommand = [this](const QJsonObject &command) {
            lastCommand = command;
            return QJsonObject{{"exitCode", 0}, {"out", "done\n"}};
        };
        return callbacks;
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
    // The lock and the socket are in the private runtime folder, for the owner alone; nothing is beside the store.
    const QString lock = InstanceChannel::lockPathFor(store);
    const QString socket = InstanceChannel::serverNameFor(store);
    EXPECT_EQ(QFileInfo(lock).path(), runtime.path());
    EXPECT_EQ(QFileInfo(socket).path(), runtime.path());
    EXPECT_EQ(modeOf(lock) & 0777, 0600u);
    EXPECT_EQ(modeOf(socket) & 0077, 0u);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());

    EXPECT_EQ(startSecond(), SingleInstance::Start::handedOver);
    EXPECT_EQ(shown, 1);

    // Once the first has ended, the next launch is the first again.
    first.reset();
    EXPECT_EQ(startSecond(), SingleInstance::Start::primary);
}

// An app that refuses to show its window has not taken the launch over: the second one fails and says why.
TEST_F(SingleInstanceTest, ARefusedHandOverIsAFailure)
{
    SingleInstance::Callbacks refusing = callbacks();
    refusing.showWindow = nullptr;
    SingleInstance first(store, refusing);
    ASSERT_EQ(first.start(), SingleInstance::Start::primary);
    EXPECT_EQ(startSecond(), SingleInstance::Start::failed);
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

TEST_F(SingleInstanceTest, ARequestOverTheSizeLimitIsRefusedUnreadWithItsReason)
{
    SingleInstance app(store, callbacks());
    ASSERT_EQ(app.start(), SingleInstance::Start::primary);
    const qsizetype limit = InstanceChannel::kMaxRequestBytes;
    // A showWindow request padded to exactly `size` bytes before its line break.
    const auto requestOf = [](qsizetype size) {
        QJsonObject request = InstanceChannel::showWindowRequest();
        request.insert("pad", QString());
        const qsizetype bare = QJsonDocument(request).toJson(QJsonDocument::Compact).size();
        request.insert("pad", QString(size - bare, 'x'));
        return request;
    };
    struct Case
    {
        qsizetype size;
        bool served;
    };
    int servedSoFar = 0;
    for (const Case &c : {Case{limit, true}, Case{limit + 1, false}, Case{40 * limit, false}}) {
        SCOPED_TRACE(c.size);
        const QJsonObject request = requestOf(c.size);
        ASSERT_EQ(QJsonDocument(request).toJson(QJsonDocument::Compact).size(), c.size);
        // The client blocks: it asks from another thread while this one serves as the app.
        auto asked = std::async(std::launch::async, [&] {
            InstanceChannel::Client client(store);
            return client.connectToApp() ? client.ask(request, 20s) : std::nullopt;
        });
        ASSERT_TRUE(waitFor([&] { return asked.wait_for(0ms) == std::future_status::ready; }, 30000));
        const std::optional<QJsonObject> answer = asked.get();
        ASSERT_TRUE(answer) << "the client gets an answer either way";
        EXPECT_EQ(answer->value("ok").toBool(), c.served);
        if (c.served)
            ++servedSoFar;
        else
            EXPECT_EQ(answer->value("error").toString(), InstanceChannel::requestTooLongMessage());
        EXPECT_EQ(shown, servedSoFar) << "a refused request is never carried out";
    }

    // Bytes with no line break, pushed as fast as the connection takes them: the app answers once and closes, having
    // taken little more than the limit (and the system's socket buffers) of the 40 MB offered.
    const QByteArray name = QFile::encodeName(InstanceChannel::serverNameFor(store));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    ASSERT_EQ(::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
    const QByteArray chunk(64 * 1024, 'x');
    qint64 sent = 0;
    bool closedByTheApp = false;
    const QDeadlineTimer deadline(20000);
    while (!closedByTheApp && sent < 40 * 1024 * 1024 && !deadline.hasExpired()) {
        const ssize_t done = ::send(fd, chunk.constData(), size_t(chunk.size()), MSG_NOSIGNAL);
        if (done > 0)
            sent += done;
        else if (errno == EAGAIN)
            QTest::qWait(2);
        else
            closedByTheApp = true;
    }
    EXPECT_TRUE(closedByTheApp);
    EXPECT_LT(sent, 4 * 1024 * 1024);
    const QList<QByteArray> lines = readToEnd(fd).split('\n');
    ::close(fd);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(QJsonDocument::fromJson(lines[0]).object().value("error").toString(),
              InstanceChannel::requestTooLongMessage());
    // The app still serves others at once.
    EXPECT_EQ(askRaw("{\"request\":\"showWindow\"}\n").value("ok"), QJsonValue(true));
}

TEST_F(SingleInstanceTest, ASocketOfAnotherUserIsNeverSpokenTo)
{
    // The command line's side, against a listener that keeps whatever it is sent.
    const int listener = listenAt(InstanceChannel::serverNameFor(store));
    ASSERT_GE(listener, 0);
    {
        const AnotherUsersChannel seam;
        InstanceChannel::Client client(store);
        EXPECT_FALSE(client.connectToApp());
        EXPECT_TRUE(client.errorString().contains("is owned by another user") &&
                    client.errorString().contains("refusing to talk to it") &&
                    client.errorString().contains(InstanceChannel::serverNameFor(store)))
            << client.errorString().toStdString();
        EXPECT_FALSE(client.ask(InstanceChannel::showWindowRequest(), 100ms));

        // Neither is the store taken nor waited for: the reason comes at once.
        QElapsedTimer clock;
        clock.start();
        const InstanceChannel::StoreClaim claim = InstanceChannel::claimStore(store, 2s);
        EXPECT_LT(clock.elapsed(), 1000);
        EXPECT_FALSE(claim.lock);
        EXPECT_FALSE(claim.app);
        EXPECT_TRUE(claim.error.contains("refusing to talk to it")) << claim.error.toStdString();
    }
    for (int connection = 0; connection < 2; ++connection) {
        const int accepted = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        ASSERT_GE(accepted, 0);
        EXPECT_EQ(readToEnd(accepted), QByteArray()) << "not a byte was sent";
        ::close(accepted);
    }
    ::close(listener);
    QFile::remove(InstanceChannel::serverNameFor(store));

    // The app's side: a connection of another user is closed unanswered, and nothing it sent is carried out.
    SingleInstance app(store, callbacks());
    ASSERT_EQ(app.start(), SingleInstance::Start::primary);
    {
        const AnotherUsersChannel seam;
        QLocalSocket socket;
        QByteArray received;
        QObject::connect(&socket, &QLocalSocket::readyRead, [&] { received += socket.readAll(); });
        socket.connectToServer(InstanceChannel::serverNameFor(store));
        ASSERT_TRUE(socket.waitForConnected(5000));
        socket.write("{\"request\":\"toggleWindow\"}\n");
        ASSERT_TRUE(waitFor([&] { return socket.state() == QLocalSocket::UnconnectedState; }, 10000));
        EXPECT_EQ(received, QByteArray());
    }
    EXPECT_EQ(toggled, 0);
    EXPECT_EQ(askRaw("{\"request\":\"toggleWindow\"}\n").value("ok"), QJsonValue(true)) << "its own user is served";
    EXPECT_EQ(toggled, 1);
}

TEST(StoreLock, OneHolderAtATimeAndNoneAfterItsProcessDies)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("vellora.lock");
    {
        const auto first = StoreLock::tryLock(path);
        ASSERT_TRUE(first);
        EXPECT_FALSE(StoreLock::tryLock(path));
    }
    EXPECT_TRUE(StoreLock::tryLock(path)) << "free again once its holder lets go";

    // A holder killed outright leaves no lock behind. It is one process, with no child of its own that could keep
    // the lock open, and it is waited for, so the lock is free the moment kill() returns.
    const QByteArray name = QFile::encodeName(path);
    ForkedChild holder([&](int report, int fromTest) {
        const int fd = ::open(name.constData(), O_RDWR | O_CLOEXEC);
        ForkedChild::reportNumber(report, fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 1 : 0);
        ForkedChild::waitForTheTest(fromTest);
        return 0;
    });
    ASSERT_TRUE(holder.started());
    ASSERT_EQ(holder.number(10000), 1) << "the holder has the lock";
    EXPECT_FALSE(StoreLock::tryLock(path));
    holder.kill();
    EXPECT_TRUE(StoreLock::tryLock(path));
}

TEST(RuntimeFolder, OnlyAFolderOfTheUserAloneIsUsed)
{
    const uid_t me = ::geteuid();
    QTemporaryDir base;
    int n = 0;
    // A new folder in `base` with this mode.
    const auto folder = [&](mode_t mode) {
        const QString path = base.filePath(QStringLiteral("f%1").arg(++n));
        EXPECT_EQ(::mkdir(QFile::encodeName(path).constData(), 0700), 0);
        EXPECT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0);
        return path;
    };
    const auto linkTo = [&](const QString &target) {
        const QString path = base.filePath(QStringLiteral("l%1").arg(++n));
        EXPECT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(path).constData()), 0);
        return path;
    };
    const auto made = [](const QString &temp, uid_t uid) { return temp + QStringLiteral("/vellora-%1").arg(uid); };

    struct Case
    {
        const char *what;
        std::function<RuntimeFolder::Places()> places;
        std::function<QString(const RuntimeFolder::Places &)> expected; // the folder, or "!" and words of the error
    };
    const QString missing = base.filePath("missing");
    const std::vector<Case> cases{
        {"XDG_RUNTIME_DIR of the user, 0700", [&] { return RuntimeFolder::Places{folder(0700), missing, missing, me}; },
         [](const auto &p) { return p.runtimeDir; }},
        {"XDG_RUNTIME_DIR open to others", [&] { return RuntimeFolder::Places{folder(0755), missing, missing, me}; },
         [](const auto &p) { return "!has mode 0755, not 0700|" + p.runtimeDir; }},
        {"XDG_RUNTIME_DIR with the sticky bit, as the XDG rules allow",
         [&] { return RuntimeFolder::Places{folder(01700), missing, missing, me}; },
         [](const auto &p) { return p.runtimeDir; }},
        {"XDG_RUNTIME_DIR that its owner cannot enter", [&] { return RuntimeFolder::Places{folder(0600), missing, missing, me}; },
         [](const auto &p) { return "!has mode 0600, not 0700|" + p.runtimeDir; }},
        {"XDG_RUNTIME_DIR a link to a private folder",
         [&] { return RuntimeFolder::Places{linkTo(folder(0700)), missing, missing, me}; },
         [](const auto &p) { return "!is a symbolic link|" + p.runtimeDir; }},
        {"XDG_RUNTIME_DIR of another user", [&] { return RuntimeFolder::Places{folder(0700), missing, missing, me + 1}; },
         [](const auto &p) { return "!owned by another user|" + p.runtimeDir; }},
        {"XDG_RUNTIME_DIR missing", [&] { return RuntimeFolder::Places{missing, folder(0700), missing, me}; },
         [](const auto &p) { return "!cannot be used|" + p.runtimeDir; }},
        {"XDG_RUNTIME_DIR relative, so ignored", [&] { return RuntimeFolder::Places{"run/me", folder(0700), missing, me}; },
         [](const auto &p) { return p.usualRuntimeDir; }},
        {"no XDG_RUNTIME_DIR: /run/user/UID", [&] { return RuntimeFolder::Places{{}, folder(0700), missing, me}; },
         [](const auto &p) { return p.usualRuntimeDir; }},
        {"neither: a folder made in /tmp", [&] { return RuntimeFolder::Places{{}, missing, folder(01777), me}; },
         [&](const auto &p) { return made(p.tempDir, me); }},
        {"a /run/user/UID open to others is passed over",
         [&] { return RuntimeFolder::Places{{}, folder(0755), folder(01777), me}; },
         [&](const auto &p) { return made(p.tempDir, me); }},
        {"the made folder, there before as a link",
         [&] {
             const QString temp = folder(01777);
             EXPECT_TRUE(QFile::link(folder(0700), made(temp, me)));
             return RuntimeFolder::Places{{}, missing, temp, me};
         },
         [&](const auto &p) { return "!is a symbolic link|" + made(p.tempDir, me); }},
        {"the made folder, there before open to others",
         [&] {
             const QString temp = folder(01777);
             EXPECT_TRUE(QDir().mkdir(made(temp, me)));
             ::chmod(QFile::encodeName(made(temp, me)).constData(), 0755);
             return RuntimeFolder::Places{{}, missing, temp, me};
         },
         [&](const auto &p) { return "!has mode 0755|" + made(p.tempDir, me); }},
        {"the made folder, there before as another user's",
         [&] {
             const QString temp = folder(01777);
             EXPECT_TRUE(QDir().mkdir(made(temp, me + 1)));
             ::chmod(QFile::encodeName(made(temp, me + 1)).constData(), 0700);
             return RuntimeFolder::Places{{}, missing, temp, me + 1};
         },
         [&](const auto &p) { return "!owned by another user|" + made(p.tempDir, me + 1); }},
        {"the made folder, there before as a file",
         [&] {
             const QString temp = folder(01777);
             QFile file(made(temp, me));
             EXPECT_TRUE(file.open(QIODevice::WriteOnly));
             return RuntimeFolder::Places{{}, missing, temp, me};
         },
         [&](const auto &p) { return "!is not a folder|" + made(p.tempDir, me); }},
        {"no /tmp to make it in", [&] { return RuntimeFolder::Places{{}, missing, missing, me}; },
         [&](const auto &p) { return "!cannot be made|" + made(p.tempDir, me); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const RuntimeFolder::Places places = c.places();
        const QString expected = c.expected(places);
        QString error;
        const QString found = RuntimeFolder::find(places, &error);
        if (expected.startsWith('!')) {
            EXPECT_EQ(found, QString());
            for (const QString &words : expected.mid(1).split('|'))
                EXPECT_TRUE(error.contains(words)) << error.toStdString() << " lacks " << words.toStdString();
        } else {
            EXPECT_EQ(found, expected) << error.toStdString();
            EXPECT_EQ(modeOf(found) & 0777, 0700u);
        }
    }

    // A folder made under a strict umask is still the owner's to use; the second time it is found as it is.
    const mode_t umaskBefore = ::umask(0277);
    const RuntimeFolder::Places strict{{}, missing, folder(01777), me};
    const QString first = RuntimeFolder::find(strict);
    ::umask(umaskBefore);
    EXPECT_EQ(first, made(strict.tempDir, me));
    EXPECT_EQ(modeOf(first), 0700u);
    EXPECT_EQ(RuntimeFolder::find(strict), first);
}

TEST_F(SingleInstanceTest, AnAppThatHangsUpGivesNoAnswerAndNoCrash)
{
    // A socket that takes the connection into its queue and then goes away without ever reading it.
    const int listener = listenAt(InstanceChannel::serverNameFor(store));
    ASSERT_GE(listener, 0);

    InstanceChannel::Client client(store);
    ASSERT_TRUE(client.connectToApp());
    ::close(listener);
    EXPECT_FALSE(client.ask(QJsonObject{{"request", QString(200000, 'x')}}, 2s));
    EXPECT_FALSE(InstanceChannel::Client(store).connectToApp(100ms)) << "nobody listens any more";
}

} // namespace

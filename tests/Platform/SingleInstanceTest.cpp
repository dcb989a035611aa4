#include "Vellora/Platform/SingleInstance.h"
#include "Vellora/Files/RuntimeFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>

#include "tests/WaitFor.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <future>
#include <optional>
#include <tuple>

using namespace std::chrono_literals;

namespace {

// While it lives, both sides of the channel expect another user than this process's: its sockets play another's.
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

    // Blocking work of a second app or a client runs on another thread, since this one must answer it.
    template<class Work> auto onAnotherThread(Work work)
    {
        auto result = std::async(std::launch::async, work);
        EXPECT_TRUE(waitFor([&] { return result.wait_for(0ms) == std::future_status::ready; }, 30000));
        return result.get();
    }
    SingleInstance::Start startSecond()
    {
        return onAnotherThread([this] { return SingleInstance(store, {}).start(2s); });
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

TEST_F(SingleInstanceTest, ASecondLaunchHandsOverToTheFirstOfItsStore)
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
    // Another store has an app of its own; the same store named otherwise has not.
    SingleInstance other(dir.filePath("other.json"), callbacks());
    EXPECT_EQ(other.start(), SingleInstance::Start::primary);
    EXPECT_EQ(socket, InstanceChannel::serverNameFor(dir.filePath("./vellora.json")));

    // Once the first has ended, the next launch is the first again.
    first.reset();
    EXPECT_EQ(startSecond(), SingleInstance::Start::primary);
}

// A lock held by a process that does not listen, or an app that refuses to show its window, has not taken the
// launch over: the start fails and says why. A crashed app's leftovers do not count.
TEST_F(SingleInstanceTest, OnlyALiveAppTakesTheLaunchOver)
{
    {
        const auto held = StoreLock::tryLock(InstanceChannel::lockPathFor(store));
        ASSERT_TRUE(held);
        SingleInstance app(store, callbacks());
        EXPECT_EQ(app.start(200ms), SingleInstance::Start::failed);
        EXPECT_TRUE(app.errorString().contains("in use")) << app.errorString().toStdString();
    }
    {
        SingleInstance::Callbacks refusing = callbacks();
        refusing.showWindow = nullptr;
        SingleInstance first(store, refusing);
        ASSERT_EQ(first.start(), SingleInstance::Start::primary);
        EXPECT_EQ(startSecond(), SingleInstance::Start::failed);
    }

    // What a crashed app left behind, a lock of a process that has ended and its socket file, blocks nothing.
    QProcess ended;
    ended.start("true");
    ASSERT_TRUE(ended.waitForStarted(10000));
    const qint64 endedPid = ended.processId();
    ASSERT_TRUE(ended.waitForFinished(10000));
    QFile lock(InstanceChannel::lockPathFor(store));
    ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
    lock.write(QByteArray::number(endedPid) + "\nvellora\n" + QSysInfo::machineHostName().toUtf8() + "\n");
    lock.close();
    ASSERT_TRUE(QFile(InstanceChannel::serverNameFor(store)).open(QIODevice::WriteOnly));

    SingleInstance app(store, callbacks());
    EXPECT_EQ(app.start(1s), SingleInstance::Start::primary);
    EXPECT_TRUE(app.isListening()) << app.errorString().toStdString();
}

TEST_F(SingleInstanceTest, RequestsAreAnsweredAndBadOrLongOnesRefused)
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

    // A request of the size limit is served; a byte more is refused unread, with its reason.
    const qsizetype limit = InstanceChannel::kMaxRequestBytes;
    for (const qsizetype size : {limit, limit + 1, 40 * limit}) {
        SCOPED_TRACE(size);
        QJsonObject request = InstanceChannel::showWindowRequest();
        request.insert("pad", QString());
        request.insert("pad", QString(size - QJsonDocument(request).toJson(QJsonDocument::Compact).size(), 'x'));
        ASSERT_EQ(QJsonDocument(request).toJson(QJsonDocument::Compact).size(), size);
        const int shownBefore = shown;
        const std::optional<QJsonObject> answer = onAnotherThread([&] {
            InstanceChannel::Client client(store);
            return client.connectToApp() ? client.ask(request, 20s) : std::nullopt;
        });
        ASSERT_TRUE(answer) << "the client gets an answer either way";
        EXPECT_EQ(answer->value("ok").toBool(), size == limit);
        EXPECT_EQ(shown, shownBefore + (size == limit ? 1 : 0)) << "a refused request is never carried out";
        if (size > limit) {
            EXPECT_EQ(answer->value("error").toString(), InstanceChannel::requestTooLongMessage());
        }
    }
    EXPECT_EQ(askRaw("{\"request\":\"showWindow\"}\n").value("ok"), QJsonValue(true)) << "others are still served";
}

TEST_F(SingleInstanceTest, ASocketOfAnotherUserIsNeverSpokenTo)
{
    // The command line's side, against a listener that keeps whatever it is sent.
    QLocalServer listener;
    ASSERT_TRUE(listener.listen(InstanceChannel::serverNameFor(store)));
    {
        const AnotherUsersChannel seam;
        InstanceChannel::Client client(store);
        EXPECT_FALSE(client.connectToApp());
        EXPECT_TRUE(client.errorString().contains(InstanceChannel::serverNameFor(store) + " is owned by another user"))
            << client.errorString().toStdString();
        EXPECT_FALSE(client.ask(InstanceChannel::showWindowRequest(), 100ms));
        // Neither is the store taken: the reason comes instead.
        const InstanceChannel::StoreClaim claim = InstanceChannel::claimStore(store, 2s);
        EXPECT_TRUE(!claim.lock && !claim.app);
        EXPECT_TRUE(claim.error.contains("refusing to talk to it")) << claim.error.toStdString();
    }
    for (int connection = 0; connection < 2; ++connection) { // the client's and the claim's: closed, not a byte sent
        ASSERT_TRUE(listener.hasPendingConnections() || listener.waitForNewConnection(10000));
        QLocalSocket *accepted = listener.nextPendingConnection();
        EXPECT_TRUE(accepted->state() == QLocalSocket::UnconnectedState || accepted->waitForDisconnected(10000));
        EXPECT_EQ(accepted->readAll(), QByteArray());
    }
    listener.close(); // its socket file goes with it

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

TEST_F(SingleInstanceTest, AnAppThatHangsUpGivesNoAnswerAndNoCrash)
{
    // A socket that takes the connection into its queue and then goes away without ever reading it.
    QLocalServer listener;
    ASSERT_TRUE(listener.listen(InstanceChannel::serverNameFor(store)));
    InstanceChannel::Client client(store);
    ASSERT_TRUE(client.connectToApp());
    listener.close();
    EXPECT_FALSE(client.ask(QJsonObject{{"request", QString(200000, 'x')}}, 2s));
    EXPECT_FALSE(InstanceChannel::Client(store).connectToApp(100ms)) << "nobody listens any more";
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

    // A holder killed outright leaves no lock behind: one process, with no child that could keep the lock open.
    QProcess holder;
    holder.start("python3", {"-c",
                             "import fcntl, sys, time; f = open(sys.argv[1], 'a'); fcntl.flock(f, fcntl.LOCK_EX"
                             " | fcntl.LOCK_NB); print('locked', flush=True); time.sleep(60)",
                             path});
    ASSERT_TRUE(holder.waitForReadyRead(20000) && holder.readAll().startsWith("locked"));
    EXPECT_FALSE(StoreLock::tryLock(path));
    holder.kill();
    ASSERT_TRUE(holder.waitForFinished(10000));
    EXPECT_TRUE(StoreLock::tryLock(path));
}

TEST(RuntimeFolder, OnlyAFolderOfTheUserAloneIsUsed)
{
    using Places = RuntimeFolder::Places;
    const uid_t me = ::geteuid();
    QTemporaryDir base;
    int n = 0;
    // A new folder in `base` with this mode. Finding never changes a folder, so the cases share them, but each
    // /tmp is the case's own: the folder is made there.
    const auto folder = [&](mode_t mode) {
        const QString path = base.filePath(QStringLiteral("f%1").arg(++n));
        EXPECT_EQ(::mkdir(QFile::encodeName(path).constData(), 0700), 0);
        EXPECT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0);
        return path;
    };
    const auto made = [](const QString &temp, uid_t uid) { return temp + QStringLiteral("/vellora-%1").arg(uid); };
    const QString mine = folder(0700), open = folder(0755), sticky = folder(01700), missing = base.filePath("missing");
    const QString link = base.filePath("link");
    EXPECT_TRUE(QFile::link(mine, link));
    const QString tmp = folder(01777), squatted = folder(01777), blocked = folder(01777);
    EXPECT_TRUE(QDir().mkdir(made(squatted, me + 1)));
    ::chmod(QFile::encodeName(made(squatted, me + 1)).constData(), 0700);
    EXPECT_TRUE(QFile(made(blocked, me)).open(QIODevice::WriteOnly));

    // What the case is, where to look, and the folder found or "!" and words of the error.
    const std::tuple<const char *, Places, QString> cases[] = {
        {"XDG_RUNTIME_DIR of the user, 0700", {mine, missing, missing, me}, mine},
        {"XDG_RUNTIME_DIR open to others", {open, missing, missing, me}, "!has mode 0755, not 0700|" + open},
        {"XDG_RUNTIME_DIR with the sticky bit", {sticky, missing, missing, me}, sticky},
        {"XDG_RUNTIME_DIR a link to a private folder", {link, missing, missing, me}, "!is a symbolic link|" + link},
        {"XDG_RUNTIME_DIR of another user", {mine, missing, missing, me + 1}, "!owned by another user|" + mine},
        {"XDG_RUNTIME_DIR missing", {missing, mine, missing, me}, "!cannot be used|" + missing},
        {"XDG_RUNTIME_DIR relative, so ignored", {"run/me", mine, missing, me}, mine},
        {"no XDG_RUNTIME_DIR: /run/user/UID", {{}, mine, missing, me}, mine},
        {"a /run/user/UID open to others is passed over: made in /tmp", {{}, open, tmp, me}, made(tmp, me)},
        {"the made folder, there before as another user's",
         {{}, missing, squatted, me + 1},
         "!owned by another user|" + made(squatted, me + 1)},
        {"the made folder, a file before", {{}, missing, blocked, me}, "!is not a folder|" + made(blocked, me)},
        {"no /tmp to make it in", {{}, missing, missing, me}, "!cannot be made|" + made(missing, me)},
    };
    for (const auto &[what, places, expected] : cases) {
        SCOPED_TRACE(what);
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
    const Places strict{{}, missing, folder(01777), me};
    const QString first = RuntimeFolder::find(strict);
    ::umask(umaskBefore);
    EXPECT_EQ(first, made(strict.tempDir, me));
    EXPECT_EQ(modeOf(first), 0700u);
    EXPECT_EQ(RuntimeFolder::find(strict), first);
}

} // namespace

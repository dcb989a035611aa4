// The sync server's memory across many push connections opened and closed: devices come and go all day (laptops
// closed, networks changed, a server restarted behind a proxy), and a server that kept something of each would grow
// without end. Opens the connections a thousand at once, each signed in and then closed, round after round, and prints
// the server's resident memory before and after (after it has had ten seconds to give memory back).
// Arguments: [--connections N] (20,000 by default); others are ignored, so that bench/run-all can pass its own.
#include "SyncKit/CloudProtocol.h"

#include "bench/BenchServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QWebSocket>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include <sys/resource.h>

using namespace SyncKit;

namespace {

constexpr int kRound = 1000;

void waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < timeoutMs) {
        QEventLoop loop;
        QTimer::singleShot(2, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

// One round: the sockets open and sign in, then close; the number that signed in.
int round(const QUrl &url, const QString &token)
{
    std::vector<std::unique_ptr<QWebSocket>> sockets;
    int ready = 0;
    for (int i = 0; i < kRound; ++i) {
        auto socket = std::make_unique<QWebSocket>();
        QWebSocket *raw = socket.get();
        QObject::connect(raw, &QWebSocket::connected,
                         [raw, token] { raw->sendTextMessage(QString::fromUtf8(CloudProtocol::pushHello(token))); });
        QObject::connect(raw, &QWebSocket::textMessageReceived,
                         [&ready](const QString &message) { ready += message == CloudProtocol::kPushReady; });
        raw->open(url);
        sockets.push_back(std::move(socket));
    }
    waitUntil([&] { return ready == kRound; }, 30000);
    for (const auto &socket : sockets)
        socket->close();
    waitUntil([&] {
        return std::all_of(sockets.begin(), sockets.end(),
                           [](const auto &socket) { return socket->state() == QAbstractSocket::UnconnectedState; });
    }, 30000);
    return ready;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // A thousand sockets at once need more than the usual soft limit of descriptors.
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 8192);
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
    const QStringList arguments = app.arguments();
    const qsizetype at = arguments.indexOf(QStringLiteral("--connections"));
    const int connections = at >= 0 ? arguments.value(at + 1).toInt() : 20000;
    BenchServer server;
    if (!server.start())
        return 1;
    const QUrl url(QStringLiteral("ws://127.0.0.1:%1%2").arg(server.port).arg(CloudProtocol::kPushPath));
    const double fresh = server.residentMiB();
    // The first thousand bring in what a server keeps once it has served that many at all (the database's page
    // cache, the tables sized for a thousand sockets); the level it returns to is measured after them.
    round(url, server.token);
    waitUntil([] { return false; }, 11000);
    int signedIn = 0;
    const double before = server.residentMiB();
    QElapsedTimer timer;
    timer.start();
    for (int opened = 0; opened < connections; opened += kRound)
        signedIn += round(url, server.token);
    waitUntil([] { return false; }, 11000);
    const double after = server.residentMiB();
    std::printf("%-58s %10d\n", "push connections opened, signed in and closed", connections);
    std::printf("%-58s %10.2f s\n", "time for all of them", double(timer.elapsed()) / 1000);
    std::printf("%-58s %10.2f MiB\n", "server resident memory when started", fresh);
    std::printf("%-58s %10.2f MiB\n", "... after a first thousand, before them", before);
    std::printf("%-58s %10.2f MiB\n", "server resident memory after them", after);
    std::printf("%-58s %10.2f MiB\n", "grown by (goal: at most 5)", after - before);
    // On a crowded machine a few may miss the server's ten seconds to sign in; they count as opened and closed.
    std::printf("%-58s %10d\n", "of them signed in", signedIn);
    return signedIn > 0 ? 0 : 1;
}

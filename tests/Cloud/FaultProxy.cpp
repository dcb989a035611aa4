#include "tests/Cloud/FaultProxy.h"

#include <QTcpSocket>
#include <QTimer>

#include <optional>

namespace {

// What the framing of one HTTP message needs from its head; nothing while the head is incomplete.
struct Head
{
    qsizetype size = 0; // with the blank line that ends it
    qsizetype bodySize = 0;
    bool upgrade = false;
};

std::optional<Head> readHead(const QByteArray &buffer)
{
    const qsizetype end = buffer.indexOf("\r\n\r\n");
    if (end < 0)
        return std::nullopt;
    Head head{end + 4, 0, false};
    for (const QByteArray &line : buffer.left(end).split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon < 0)
            continue;
        const QByteArray name = line.left(colon).trimmed().toLower();
        if (name == "content-length")
            head.bodySize = line.mid(colon + 1).trimmed().toLongLong();
        else if (name == "upgrade")
            head.upgrade = true;
    }
    return head;
}

// The first part of a message, cut inside its body, or inside its head when it has no body.
QByteArray cut(const QByteArray &message, const Head &head)
{
    return message.left(head.bodySize > 0 ? head.size + head.bodySize / 2 : head.size / 2);
}

} // namespace

// One connection of a device and its twin to the server. Requests are taken one at a time, as a client that does
// not pipeline sends them, so each answer belongs to the oldest request still waiting for one.
class FaultProxy::Link : public QObject
{
public:
    Link(FaultProxy &proxy, QTcpSocket *client) : QObject(&proxy), m_proxy(proxy), m_client(client)
    {
        m_client->setParent(this);
        m_server = new QTcpSocket(this);
        connect(m_client, &QTcpSocket::readyRead, this, &Link::fromClient);
        connect(m_server, &QTcpSocket::readyRead, this, &Link::fromServer);
        connect(m_client, &QTcpSocket::disconnected, this, &Link::close);
        connect(m_server, &QTcpSocket::disconnected, this, &Link::serverClosed);
        connect(m_server, &QTcpSocket::errorOccurred, this, &Link::serverClosed);
        // Written bytes wait in the socket until it connects.
        m_server->connectToHost(QHostAddress::LocalHost, proxy.m_serverPort);
    }

private:
    void fromClient()
    {
        m_fromClient += m_client->readAll();
        if (m_tunnel)
            return tunnel(m_fromClient, *m_server);
        while (!m_holding && !m_closed) {
            const auto head = readHead(m_fromClient);
            if (!head)
                return;
            if (head->upgrade) {
                m_tunnel = true;
                return tunnel(m_fromClient, *m_server);
            }
            const qsizetype size = head->size + head->bodySize;
            if (m_fromClient.size() < size)
                return;
            const QByteArray request = m_fromClient.left(size);
            m_fromClient.remove(0, size);
            switch (const Fault fault = m_proxy.draw()) {
            case Fault::dropRequest:
                return close();
            case Fault::cutRequest:
                // The server reads a request that stops in the middle, then the end of the connection.
                m_server->write(cut(request, *head));
                m_server->flush();
                return close();
            case Fault::delay:
                m_holding = true;
                QTimer::singleShot(m_proxy.delay(), this, [this, request] {
                    if (m_closed)
                        return;
                    m_holding = false;
                    forward(request, Fault::delay);
                    fromClient();
                });
                return;
            default:
                forward(request, fault);
            }
        }
    }

    void forward(const QByteArray &request, Fault fault)
    {
        m_answerFaults.append(fault);
        m_server->write(request);
    }

    void fromServer()
    {
        m_fromServer += m_server->readAll();
        if (m_tunnel)
            return tunnel(m_fromServer, *m_client);
        while (!m_closed) {
            const auto head = readHead(m_fromServer);
            if (!head)
                return;
            const qsizetype size = head->size + head->bodySize;
            if (m_fromServer.size() < size)
                return;
            const QByteArray answer = m_fromServer.left(size);
            m_fromServer.remove(0, size);
            switch (m_answerFaults.isEmpty() ? Fault::none : m_answerFaults.takeFirst()) {
            case Fault::dropAnswer:
                return close();
            case Fault::cutAnswer:
                m_client->write(cut(answer, *head));
                m_client->flush();
                return close();
            case Fault::delay:
                QTimer::singleShot(m_proxy.delay(), this, [this, answer] {
                    if (!m_closed)
                        m_client->write(answer);
                });
                break;
            default:
                m_client->write(answer);
            }
        }
    }

    static void tunnel(QByteArray &buffer, QTcpSocket &to)
    {
        to.write(buffer);
        buffer.clear();
    }

    // The server went away: what it said reaches the device, then the device's connection ends too.
    void serverClosed()
    {
        m_client->flush();
        close();
    }

    void close()
    {
        if (m_closed)
            return;
        m_closed = true;
        m_client->abort();
        m_server->abort();
        deleteLater();
    }

    FaultProxy &m_proxy;
    QTcpSocket *m_client;
    QTcpSocket *m_server;
    QByteArray m_fromClient;
    QByteArray m_fromServer;
    QList<Fault> m_answerFaults;
    bool m_tunnel = false;
    bool m_holding = false;
    bool m_closed = false;
};

FaultProxy::FaultProxy(quint16 serverPort, Settings settings, QObject *parent)
    : QObject(parent), m_serverPort(serverPort), m_settings(settings), m_random(settings.seed)
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *client = m_server.nextPendingConnection())
            new Link(*this, client);
    });
}

FaultProxy::~FaultProxy() = default;

bool FaultProxy::listen()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

QString FaultProxy::url() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort());
}

int FaultProxy::count(Fault fault) const
{
    const auto found = m_counts.find(fault);
    return found == m_counts.end() ? 0 : found->second;
}

FaultProxy::Fault FaultProxy::draw()
{
    Fault fault = Fault::none;
    if (m_stormy && std::uniform_real_distribution<>(0, 1)(m_random) < m_settings.faultRate)
        fault = Fault(std::uniform_int_distribution<int>(int(Fault::dropRequest), int(Fault::delay))(m_random));
    ++m_counts[fault];
    return fault;
}

std::chrono::milliseconds FaultProxy::delay()
{
    return std::chrono::milliseconds(
        std::uniform_int_distribution<qint64>(1, std::max<qint64>(1, m_settings.maximumDelay.count()))(m_random));
}

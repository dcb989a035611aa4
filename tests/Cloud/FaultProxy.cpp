#include "tests/Cloud/FaultProxy.h"

#include <QTcpSocket>

FaultProxy::FaultProxy(quint16 serverPort, unsigned seed, double faultRate)
    : m_serverPort(serverPort), m_faultRate(faultRate), m_random(seed)
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *client = m_server.nextPendingConnection()) {
            auto *server = new QTcpSocket(client);
            connect(client, &QTcpSocket::readyRead, this, [=, this] { relay(client, server, true); });
            connect(server, &QTcpSocket::readyRead, this, [=, this] { relay(client, server, false); });
            connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
            // The server went away: what it said reaches the device, then the device's connection ends too.
            const auto end = [client] { client->disconnectFromHost(); };
            connect(server, &QTcpSocket::disconnected, client, end);
            connect(server, &QTcpSocket::errorOccurred, client, end);
            // Written bytes wait in the socket until it connects.
            server->connectToHost(QHostAddress::LocalHost, m_serverPort);
        }
    });
}

void FaultProxy::relay(QTcpSocket *client, QTcpSocket *server, bool request)
{
    QTcpSocket &to = request ? *server : *client;
    const QByteArray bytes = (request ? client : server)->readAll();
    Fault fault = Fault::none;
    if (m_stormy && std::uniform_real_distribution<>(0, 1)(m_random) < m_faultRate) {
        const int cut = std::bernoulli_distribution(0.5)(m_random) ? 1 : 0;
        fault = Fault(int(request ? Fault::dropRequest : Fault::dropAnswer) + cut);
    }
    ++m_counts[fault];
    if (fault == Fault::none) {
        to.write(bytes);
        return;
    }
    // Cut short: the other end reads the first half, then the end of the connection.
    if (fault == Fault::cutRequest || fault == Fault::cutAnswer) {
        to.write(bytes.left(bytes.size() / 2));
        to.flush();
    }
    server->abort();
    client->abort();
    client->deleteLater();
}

#pragma once

#include <QTcpServer>

#include <map>
#include <random>

class QTcpSocket;

// A bad network between devices and a server, for tests: it listens on 127.0.0.1 and forwards every connection to
// the server's port. While stormy, each piece of a request that arrives may be lost before the server sees it or be
// cut short, and so may each piece of an answer, after the server did the work; either way the connection ends.
// The draws come from one seeded generator, in the order the pieces arrive.
class FaultProxy : public QObject
{
    Q_OBJECT

public:
    enum class Fault { none, dropRequest, cutRequest, dropAnswer, cutAnswer };

    // `faultRate` is the share of pieces that meet a fault while stormy.
    FaultProxy(quint16 serverPort, unsigned seed, double faultRate);

    // False when no port could be had.
    bool listen() { return m_server.listen(QHostAddress::LocalHost, 0); }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()); }
    void setStormy(bool stormy) { m_stormy = stormy; }
    // How many pieces met this fault so far.
    int count(Fault fault) const { return m_counts.count(fault) ? m_counts.at(fault) : 0; }

private:
    void relay(QTcpSocket *client, QTcpSocket *server, bool request);

    QTcpServer m_server;
    quint16 m_serverPort;
    double m_faultRate;
    std::mt19937 m_random;
    bool m_stormy = true;
    std::map<Fault, int> m_counts;
};

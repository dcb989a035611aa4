#pragma once

#include <QTcpServer>

#include <chrono>
#include <map>
#include <random>

// A bad network between a device and a server, for tests: it listens on 127.0.0.1, forwards every connection to
// the server's port and reads the HTTP requests on it one by one. While stormy, each request may be lost before the
// server sees it, have its answer lost after the server did the work, have its body or its answer's body cut short
// with the connection, or wait on a slow link. A WebSocket (the push channel) passes untouched. The draws come from
// one seeded generator, in the order the requests arrive.
class FaultProxy : public QObject
{
    Q_OBJECT

public:
    enum class Fault { none, dropRequest, dropAnswer, cutRequest, cutAnswer, delay };

    struct Settings
    {
        unsigned seed = 1;
        double faultRate = 0.2; // of requests that meet a fault while stormy, spread over the five kinds
        std::chrono::milliseconds maximumDelay{20};
    };

    FaultProxy(quint16 serverPort, Settings settings, QObject *parent = nullptr);
    ~FaultProxy() override;

    // False when no port could be had.
    bool listen();
    QString url() const;

    void setStormy(bool stormy) { m_stormy = stormy; }
    // How many requests met each fault so far.
    int count(Fault fault) const;

private:
    class Link;
    Fault draw();
    std::chrono::milliseconds delay();

    QTcpServer m_server;
    quint16 m_serverPort;
    Settings m_settings;
    std::mt19937 m_random;
    bool m_stormy = true;
    std::map<Fault, int> m_counts;
};

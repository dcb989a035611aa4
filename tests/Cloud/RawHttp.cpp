#include "tests/Cloud/RawHttp.h"

#include "tests/WaitFor.h"

#include <QJsonDocument>
#include <QTcpSocket>

Answer rawRequest(quint16 port, const QByteArray &path, const QByteArray &body, const QByteArray &token,
                  const QByteArray &extraHeaders, const QByteArray &method)
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    if (!socket.waitForConnected(10000))
        return {};
    QByteArray request = method + ' ' + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n";
    if (!token.isEmpty())
        request += "Authorization: Bearer " + token + "\r\n";
    if (!extraHeaders.contains("Content-Length") && !extraHeaders.contains("Transfer-Encoding"))
        request += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    request += extraHeaders + "\r\n" + body;
    if (socket.write(request) != request.size())
        return {};
    QByteArray received;
    Answer answer;
    waitFor([&] {
        received += socket.readAll();
        const qsizetype end = received.indexOf("\r\n\r\n");
        if (end < 0)
            return socket.state() != QAbstractSocket::ConnectedState;
        qsizetype length = 0;
        for (const QByteArray &line : received.left(end).split('\n')) {
            const QByteArray trimmed = line.trimmed();
            if (trimmed.startsWith("HTTP/1.1 "))
                answer.status = trimmed.mid(9, 3).toInt();
            else if (trimmed.toLower().startsWith("content-length:"))
                length = trimmed.mid(15).trimmed().toLongLong();
            else if (trimmed.toLower().startsWith("retry-after:"))
                answer.retryAfter = trimmed.mid(12).trimmed();
        }
        answer.body = received.mid(end + 4);
        return answer.body.size() >= length;
    });
    return answer;
}


std::optional<QByteArray> rawExchange(quint16 port, const QByteArray &bytes,
                                      const std::function<bool(const QByteArray &)> &until, int timeoutMs)
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    if (!socket.waitForConnected(10000) || socket.write(bytes) != bytes.size())
        return std::nullopt;
    QByteArray received;
    const bool ended = waitFor([&] {
        received += socket.readAll();
        return (until && until(received)) || socket.state() == QAbstractSocket::UnconnectedState;
    }, timeoutMs);
    return ended ? std::optional(received) : std::nullopt;
}

QByteArray compactJson(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QJsonObject parse(const QByteArray &body)
{
    return QJsonDocument::fromJson(body).object();
}

QString errorName(const Answer &answer)
{
    return parse(answer.body).value("error").toObject().value("name").toString();
}


#include "Cloud/RequestGuard.h"

#include "SyncKit/CloudProtocol.h"

#include <QJsonDocument>
#include <QTimer>

namespace Cloud {

namespace {

// How long a refused client may go on sending before the connection is closed under it.
constexpr int kDrainMs = 2000;

QByteArray headerValue(const QList<QByteArray> &lines, const QByteArray &name, int &count)
{
    QByteArray value;
    count = 0;
    for (const QByteArray &line : lines) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0) {
            value = line.mid(colon + 1).trimmed();
            ++count;
        }
    }
    return value;
}

} // namespace

void RequestGuard::watch(QTcpSocket *socket, qint64 maxBodyBytes, Refused refused)
{
    new RequestGuard(socket, maxBodyBytes, std::move(refused));
}

RequestGuard::RequestGuard(QTcpSocket *socket, qint64 maxBodyBytes, Refused refused)
    : QObject(socket), m_socket(socket), m_maxBodyBytes(maxBodyBytes), m_refused(std::move(refused))
{
    connect(socket, &QTcpSocket::readyRead, this, &RequestGuard::inspect);
}

// Sees the bytes that arrived since the last time; the HTTP server reads them all right after.
void RequestGuard::inspect()
{
    if (m_closing)
        return drain();
    const QByteArray incoming = m_socket->peek(m_socket->bytesAvailable());
    qsizetype at = 0;
    while (at < incoming.size() && !m_closing) {
        if (m_bodyLeft > 0) {
            const qint64 skipped = std::min<qint64>(m_bodyLeft, incoming.size() - at);
            m_bodyLeft -= skipped;
            at += skipped;
            continue;
        }
        // Empty lines before a request line are allowed; they are not part of its head.
        if (m_head.isEmpty()) {
            while (at < incoming.size() && (incoming[at] == '\r' || incoming[at] == '\n'))
                ++at;
            if (at == incoming.size())
                break;
        }
        const qsizetype before = m_head.size();
        const qsizetype taken = std::min<qsizetype>(incoming.size() - at, kMaxHeadBytes + 4 - before);
        m_head.append(incoming.constData() + at, taken);
        const qsizetype end = m_head.indexOf("\r\n\r\n", std::max<qsizetype>(0, before - 3));
        if (end < 0) {
            at += taken;
            if (m_head.size() > kMaxHeadBytes)
                refuse(pathOf(m_head), 431, "Request Header Fields Too Large", QStringLiteral("headTooLarge"),
                       QStringLiteral("the head of a request holds at most %1 KiB").arg(kMaxHeadBytes / 1024));
            continue;
        }
        at += end + 4 - before;
        const QByteArray head = m_head.left(end + 4);
        m_head.clear();
        checkHead(head);
    }
}

QByteArray RequestGuard::pathOf(const QByteArray &head)
{
    return head.left(head.indexOf('\n')).trimmed().split(' ').value(1);
}

void RequestGuard::checkHead(const QByteArray &head)
{
    const QList<QByteArray> lines = head.split('\n').mid(1);
    int lengths = 0;
    int encodings = 0;
    int upgrades = 0;
    const QByteArray length = headerValue(lines, "content-length", lengths);
    headerValue(lines, "transfer-encoding", encodings);
    headerValue(lines, "upgrade", upgrades);

    // The body's end must be known from the head alone, read the same way here as by the HTTP server.
    if (encodings > 0)
        return refuse(pathOf(head), 411, "Length Required", QStringLiteral("lengthRequired"),
                      QStringLiteral("a request body must be sent with its Content-Length"));
    bool digits = !length.isEmpty();
    for (const char c : length)
        digits = digits && c >= '0' && c <= '9';
    if (lengths > 1 || (lengths == 1 && !digits))
        return refuse(pathOf(head), 400, "Bad Request", QStringLiteral("badRequest"),
                      QStringLiteral("the Content-Length cannot be read"));
    const qint64 declared = lengths == 0 ? 0 : length.size() <= 18 ? length.toLongLong() : -1;
    if (declared < 0 || declared > m_maxBodyBytes)
        return refuse(pathOf(head), 413, "Payload Too Large", QStringLiteral("bodyTooLarge"),
                      QStringLiteral("a request body holds at most %1 MiB").arg(m_maxBodyBytes / 1024 / 1024));
    m_bodyLeft = declared;
    if (upgrades > 0) {
        // What follows is the WebSocket's own framing, whose messages have a limit of their own.
        disconnect(m_socket, nullptr, this, nullptr);
        m_closing = true;
        deleteLater();
    }
}

void RequestGuard::refuse(const QByteArray &path, int status, const QByteArray &reason, const QString &name,
                          const QString &message)
{
    m_closing = true;
    // The HTTP server must not read this request: only this guard hears the socket from now on.
    disconnect(m_socket, &QTcpSocket::readyRead, nullptr, nullptr);
    connect(m_socket, &QTcpSocket::readyRead, this, &RequestGuard::drain);
    const QJsonObject error{
        {"error", SyncKit::CloudProtocol::errorJson(SyncKit::CloudError::Code::limitExceeded, message, name)}};
    const QByteArray body = QJsonDocument(error).toJson(QJsonDocument::Compact);
    const QByteArray answer = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason +
                              "\r\nContent-Type: application/json\r\nConnection: close\r\nContent-Length: " +
                              QByteArray::number(body.size()) + "\r\n\r\n" + body;
    if (m_socket->write(answer) != answer.size())
        m_socket->abort();
    drain();
    QTimer::singleShot(kDrainMs, this, [this] { m_socket->abort(); });
    if (m_refused)
        m_refused(Refusal{path, status, name});
}

void RequestGuard::drain()
{
    m_socket->skip(m_socket->bytesAvailable());
}

} // namespace Cloud

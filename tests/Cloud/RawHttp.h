#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <functional>
#include <optional>

struct Answer
{
    int status = 0;
    QByteArray retryAfter;
    QByteArray body;
};

// One request on a connection of its own, written byte for byte, so that tests can send what no client library
// would. A Content-Length is added unless the extra headers give one or a Transfer-Encoding.
Answer rawRequest(quint16 port, const QByteArray &path, const QByteArray &body, const QByteArray &token = {},
                  const QByteArray &extraHeaders = {}, const QByteArray &method = "POST");

// Connects, writes the bytes as they are and reads until `until` holds for what came or the server closes: what
// came, or nothing when neither happened in time.
std::optional<QByteArray> rawExchange(quint16 port, const QByteArray &bytes,
                       const std::function<bool(const QByteArray &)> &until = {}, int timeoutMs = 30000);

// A request body as the clients send it.
QByteArray compactJson(const QJsonObject &object);

// An answer's JSON object (empty when it is none), and the name of the error it carries.
QJsonObject parse(const QByteArray &body);
QString errorName(const Answer &answer);

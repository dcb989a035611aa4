#pragma once

#include <QByteArray>

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

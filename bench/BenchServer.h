#pragma once

#include <QFile>
#include <QHash>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cstdio>

#include <unistd.h>

// A vellora-cloud process of a benchmark's own: SQLite in a temporary folder, a free port on loopback, no rate limit
// in the way, one user whose token it holds (and more on request). Stopped when this goes away. $VELLORA_CLOUD names another server
// binary, such as an earlier build, to compare with in turns.
class BenchServer
{
public:
    bool start(const QStringList &moreUsers = {})
    {
        const QString binary = qEnvironmentVariable("VELLORA_CLOUD", QStringLiteral(VELLORA_CLOUD_BINARY));
        for (const QString &user : QStringList{QStringLiteral("anna")} + moreUsers) {
            QProcess add;
            add.start(binary, {"user", "add", user, "--data", m_data.path()});
            add.waitForFinished();
            tokens.insert(user, QString::fromUtf8(add.readAllStandardOutput()).trimmed());
            if (tokens.value(user).isEmpty()) {
                std::fprintf(stderr, "the user %s could not be added\n", qPrintable(user));
                return false;
            }
        }
        token = tokens.value(QStringLiteral("anna"));
        // The benchmarks open a thousand push sockets at once from this one address.
        m_process.start(binary, {"serve", "--listen", "127.0.0.1:0", "--data", m_data.path(), "--rate-limit",
                                 "100000/100000", "--connections-per-address", "100000"});
        QByteArray output;
        const QRegularExpression listening(QStringLiteral("127\\.0\\.0\\.1:(\\d+)"));
        while (!listening.match(QString::fromUtf8(output)).hasMatch() && m_process.waitForReadyRead(10000))
            output += m_process.readAllStandardOutput();
        const auto match = listening.match(QString::fromUtf8(output));
        if (token.isEmpty() || !match.hasMatch()) {
            std::fprintf(stderr, "the server did not start\n");
            return false;
        }
        port = quint16(match.captured(1).toUInt());
        return true;
    }

    ~BenchServer()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished();
    }

    QString url() const { return QStringLiteral("http://127.0.0.1:%1").arg(port); }

    // The server's resident memory in MiB, from the kernel; -1 when it cannot be read.
    double residentMiB() const
    {
        QFile status(QStringLiteral("/proc/%1/status").arg(m_process.processId()));
        if (!status.open(QIODevice::ReadOnly))
            return -1;
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmRSS:"))
                return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
        }
        return -1;
    }

    // The processor time the server has used so far, in milliseconds; -1 when it cannot be read.
    double cpuMs() const
    {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(m_process.processId()));
        if (!stat.open(QIODevice::ReadOnly))
            return -1;
        const QByteArray text = stat.readAll();
        // The fields after the command's name, which may hold spaces: utime and stime are the 12th and 13th.
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        return (fields.value(11).toDouble() + fields.value(12).toDouble()) * 1000.0 / double(sysconf(_SC_CLK_TCK));
    }

    QString token;
    QHash<QString, QString> tokens; // of every user, by name
    quint16 port = 0;

private:
    QTemporaryDir m_data;
    QProcess m_process;
};

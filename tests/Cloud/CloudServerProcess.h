#pragma once

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

// A template for temporary folders of test data: in memory when the system offers it, since the programs under test
// flush every write to disk, and the tests make thousands of them.
inline QString memoryFolderTemplate(const QString &name)
{
    const QFileInfo shm(QStringLiteral("/dev/shm"));
    return (shm.isDir() && shm.isWritable() ? shm.filePath() : QDir::tempPath()) + '/' + name + "-XXXXXX";
}

struct CloudCommandRun
{
    int exitCode = -1; // -1: it crashed or did not end within 30 s
    QString err;
};

// vellora-cloud with these arguments to its end, with "NAME=value" variables set and "NAME=" ones removed.
CloudCommandRun runCloudCommand(const QStringList &arguments, const QStringList &variables = {});

// A vellora-cloud server of its own for one test: a temporary data folder (or the PostgreSQL database given), a free
// port on 127.0.0.1 chosen by the server itself, and a process that is always stopped when this goes away.
class CloudServerProcess
{
public:
    explicit CloudServerProcess(QStringList extraArguments = {}, QString database = {});
    ~CloudServerProcess();

    // False, with the reason in error(), when the server did not come up. After a stop, it comes up on the same port.
    bool start();
    void stop();
    // Ends the server at once with SIGKILL, as a crash or a power cut would, in whatever it was doing.
    void kill();
    const QString &error() const { return m_error; }

    // https when it was given a certificate.
    QString url() const
    {
        return QStringLiteral("%1://127.0.0.1:%2")
            .arg(m_extraArguments.contains(QStringLiteral("--tls-cert")) ? "https" : "http")
            .arg(m_port);
    }
    quint16 port() const { return m_port; }
    // The most memory the server has held at once so far, in MiB (VmHWM); -1 when it cannot be read.
    double peakResidentMiB() const;
    QString dataFolder() const { return m_data.path(); }
    // Everything the server has written to its standard output and error so far, across restarts.
    QByteArray log();
    // "NAME=value" pairs added to the environment of the server and of its commands, from the next start on.
    void setEnvironment(const QStringList &variables) { m_environment = variables; }

    // Runs an administration command on the same data; its exit status and standard output.
    std::pair<int, QString> command(const QStringList &arguments) const;
    // A new device token of the user, made when new.
    QString addUser(const QString &name) const;

private:
    QTemporaryDir m_data{memoryFolderTemplate(QStringLiteral("vellora-cloud-test"))};
    QStringList storage() const;
    QProcessEnvironment environment() const;

    QStringList m_extraArguments;
    QStringList m_environment;
    QString m_database;
    QProcess m_process;
    QString m_error;
    QByteArray m_log;
    quint16 m_port = 0;
};

#include "tests/Cloud/CloudServerProcess.h"

#include "tests/WaitFor.h"

#include <QFile>
#include <QRegularExpression>

#include <cstdio>

CloudServerProcess::CloudServerProcess(QStringList extraArguments, QString database)
    : m_extraArguments(std::move(extraArguments)), m_database(std::move(database))
{
    m_process.setProgram(QStringLiteral(VELLORA_CLOUD_BINARY));
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
}

CloudServerProcess::~CloudServerProcess()
{
    stop();
}

bool CloudServerProcess::start()
{
    const QString listen = QStringLiteral("127.0.0.1:%1").arg(m_port);
    m_port = 0;
    m_process.setArguments(QStringList{"serve", "--listen", listen} + storage() + m_extraArguments);
    m_process.setProcessEnvironment(environment());
    log(); // what the last run wrote, before a new start drops it
    m_process.start();
    if (!m_process.waitForStarted()) {
        m_error = m_process.errorString();
        return false;
    }
    static const QRegularExpression listening(QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)"));
    const qsizetype begin = m_log.size();
    const bool up = waitFor([&] {
        const auto match = listening.match(QString::fromUtf8(log().mid(begin)));
        if (match.hasMatch())
            m_port = quint16(match.captured(1).toUInt());
        return m_port != 0 || m_process.state() == QProcess::NotRunning;
    });
    if (!up || m_port == 0) {
        m_error = QStringLiteral("the server did not start: ") + QString::fromUtf8(log().mid(begin));
        stop();
        return false;
    }
    return true;
}

QProcessEnvironment CloudServerProcess::environment() const
{
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    for (const QString &variable : m_environment)
        variables.insert(variable.section('=', 0, 0), variable.section('=', 1));
    return variables;
}

QStringList CloudServerProcess::storage() const
{
    return m_database.isEmpty() ? QStringList{"--data", m_data.path()} : QStringList{"--database", m_database};
}

void CloudServerProcess::stop()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            kill();
    }
}

void CloudServerProcess::kill()
{
    m_process.kill();
    m_process.waitForFinished();
}

std::pair<int, QString> CloudServerProcess::command(const QStringList &arguments) const
{
    QProcess process;
    process.setProcessEnvironment(environment());
    process.start(QStringLiteral(VELLORA_CLOUD_BINARY), arguments + storage());
    if (!process.waitForFinished(30000))
        return {-1, QString()};
    const QByteArray error = process.readAllStandardError();
    if (!error.isEmpty())
        std::fprintf(stderr, "vellora-cloud %s: %s", qPrintable(arguments.mid(0, 2).join(' ')), error.constData());
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput())};
}

QString CloudServerProcess::addUser(const QString &name) const
{
    const auto [status, output] = command({"user", "add", name});
    return status == 0 ? output.trimmed() : QString();
}

QByteArray CloudServerProcess::log()
{
    if (m_process.isOpen()) {
        m_log += m_process.readAllStandardOutput();
        m_log += m_process.readAllStandardError();
    }
    return m_log;
}

double CloudServerProcess::peakResidentMiB() const
{
    QFile status(QStringLiteral("/proc/%1/status").arg(m_process.processId()));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return -1;
}

CloudCommandRun runCloudCommand(const QStringList &arguments, const QStringList &variables)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString &variable : variables) {
        if (variable.endsWith('='))
            environment.remove(variable.chopped(1));
        else
            environment.insert(variable.section('=', 0, 0), variable.section('=', 1));
    }
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(VELLORA_CLOUD_BINARY), arguments);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit)
        return {};
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardError())};
}

#include "PrivateBus.h"

#include <QFile>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

constexpr int kStartTimeoutMs = 30000;

constexpr char kConfig[] = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

} // namespace

QString PrivateBus::start()
{
    if (!m_dir.isValid())
        return QStringLiteral("no temporary folder: %1").arg(m_dir.errorString());
    QFile config(m_dir.filePath(QStringLiteral("bus.conf")));
    if (!config.open(QIODevice::WriteOnly) ||
        config.write(QString::fromLatin1(kConfig).arg(m_dir.path()).toUtf8()) < 0 || !config.flush())
        return QStringLiteral("cannot write %1: %2").arg(config.fileName(), config.errorString());
    config.close();

    const pid_t parent = getpid();
    m_daemon.setChildProcessModifier([parent] {
        // The bus goes with the test, even when the test crashes.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(1);
    });
    m_daemon.setProcessChannelMode(QProcess::SeparateChannels);
    m_daemon.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--config-file=") + config.fileName(),
                                                   QStringLiteral("--nofork"), QStringLiteral("--print-address")});
    if (!m_daemon.waitForStarted(kStartTimeoutMs))
        return QStringLiteral("dbus-daemon did not start (scripts/install-deps installs it): %1")
            .arg(m_daemon.errorString());
    while (!m_daemon.canReadLine()) {
        if (!m_daemon.waitForReadyRead(kStartTimeoutMs)) {
            const QString error = QString::fromLocal8Bit(m_daemon.readAllStandardError());
            stop();
            return QStringLiteral("dbus-daemon gave no address: %1").arg(error);
        }
    }
    m_address = QString::fromLatin1(m_daemon.readLine().trimmed());
    return {};
}

void PrivateBus::stop()
{
    if (m_daemon.state() == QProcess::NotRunning)
        return;
    m_daemon.terminate();
    if (!m_daemon.waitForFinished(10000)) {
        m_daemon.kill();
        m_daemon.waitForFinished(-1);
    }
}

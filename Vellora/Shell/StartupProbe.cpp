#include "Vellora/Shell/StartupProbe.h"

#include <QCoreApplication>
#include <QFile>
#include <QTimer>
#include <QWidget>

#include <cstdio>

void StartupProbe::watch(QWidget *window, const QElapsedTimer &sinceStart)
{
    if (window && qEnvironmentVariableIsSet(kVariable))
        qApp->installEventFilter(new StartupProbe(window, sinceStart));
}

StartupProbe::StartupProbe(QWidget *window, const QElapsedTimer &sinceStart)
    : QObject(qApp), m_window(window), m_sinceStart(sinceStart)
{
}

qint64 StartupProbe::residentKilobytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

bool StartupProbe::eventFilter(QObject *watched, QEvent *event)
{
    if (!m_painted && event->type() == QEvent::Paint && watched->isWidgetType() &&
        static_cast<QWidget *>(watched)->window() == m_window) {
        m_painted = true;
        // Once the whole frame is painted and handed to the display.
        QTimer::singleShot(0, this, [this] {
            std::fprintf(stderr, "vellora: first frame painted after %lld ms; VmRSS %lld kB\n",
                         static_cast<long long>(m_sinceStart.elapsed()), static_cast<long long>(residentKilobytes()));
            QCoreApplication::quit();
        });
    }
    return false;
}

#include "Vellora/Shell/StartupProbe.h"

#include "Vellora/Shell/FirstFrame.h"

#include <QFile>

#include <cstdio>

namespace StartupProbe {

void watch(QWidget *window, const QElapsedTimer &sinceStart, std::function<void()> quit)
{
    if (!qEnvironmentVariableIsSet(kVariable))
        return;
    afterFirstFrame(window, [sinceStart, quit = std::move(quit)] {
        std::fprintf(stderr, "vellora: first frame painted after %lld ms; VmRSS %lld kB\n",
                     static_cast<long long>(sinceStart.elapsed()), static_cast<long long>(residentKilobytes()));
        std::fflush(stderr);
        quit();
    });
}

qint64 residentKilobytes()
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

} // namespace StartupProbe

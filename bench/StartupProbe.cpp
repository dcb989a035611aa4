#include "bench/StartupProbe.h"

#include "Vellora/Shell/FirstFrame.h"

#include <QFile>

#include <cstdio>
#include <cstdlib>

namespace StartupProbe {

namespace {

// The process's resident memory in kB, from /proc/self/status; -1 where there is none.
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

} // namespace

void watch(QWidget *window)
{
    if (!qEnvironmentVariableIsSet(kVariable))
        return;
    afterFirstFrame(window, [] {
        std::fprintf(stderr, "vellora: first frame painted; VmRSS %lld kB\n",
                     static_cast<long long>(residentKilobytes()));
        std::fflush(stderr);
        std::_Exit(0);
    });
}

} // namespace StartupProbe

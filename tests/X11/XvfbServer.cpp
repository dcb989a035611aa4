#include "XvfbServer.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kStartTimeoutMs = 60000;
constexpr int kDisplayFd = 3;

bool waitForExit(pid_t pid, int timeoutMs)
{
    for (int waited = 0; waited < timeoutMs; waited += 10) {
        if (waitpid(pid, nullptr, WNOHANG) == pid)
            return true;
        // Polling the child's end; nothing else can tell without a signal handler.
        poll(nullptr, 0, 10);
    }
    return false;
}

} // namespace

QString XvfbServer::start()
{
    int fds[2];
    if (pipe(fds) != 0)
        return QStringLiteral("pipe: %1").arg(errno);
    const pid_t parent = getpid();
    m_pid = fork();
    if (m_pid < 0)
        return QStringLiteral("fork: %1").arg(errno);
    if (m_pid == 0) {
        // The server goes with the test, even when the test crashes.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(1);
        close(fds[0]);
        dup2(fds[1], kDisplayFd);
        const int null = open("/dev/null", O_RDWR);
        dup2(null, STDIN_FILENO);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        // With -displayfd the server picks the first free display and writes its number to the descriptor.
        execlp("Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", "1280x800x24", "-nolisten", "tcp", "-noreset",
               static_cast<char *>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    QByteArray number;
    pollfd readable{fds[0], POLLIN, 0};
    while (!number.endsWith('\n')) {
        if (poll(&readable, 1, kStartTimeoutMs) <= 0)
            break;
        char c;
        if (read(fds[0], &c, 1) != 1)
            break;
        number.append(c);
    }
    close(fds[0]);
    if (!number.endsWith('\n')) {
        stop();
        return QStringLiteral("Xvfb did not start (is it installed? scripts/install-deps installs it)");
    }
    m_display = QLatin1Char(':') + QString::fromLatin1(number.trimmed());
    return {};
}

void XvfbServer::stop()
{
    if (m_pid <= 0)
        return;
    kill(m_pid, SIGTERM);
    if (!waitForExit(m_pid, 10000)) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    m_pid = -1;
}

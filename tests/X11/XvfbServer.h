#pragma once

#include <QString>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

// An X server of the test's own on a free display: started by the test, stopped when it ends, and killed by
// the kernel if the test dies first.
class XvfbServer
{
public:
    XvfbServer() = default;
    ~XvfbServer() { stop(); }
    XvfbServer(const XvfbServer &) = delete;
    XvfbServer &operator=(const XvfbServer &) = delete;

    // Returns an error text, or an empty one when the server runs.
    QString start()
    {
        int fds[2];
        const pid_t parent = getpid();
        if (pipe(fds) != 0 || (m_pid = fork()) < 0)
            return QStringLiteral("cannot start Xvfb");
        if (m_pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != parent)
                _exit(1);
            dup2(fds[1], 3);
            for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})
                dup2(open("/dev/null", O_RDWR), fd);
            // With -displayfd the server picks the first free display and writes its number to the descriptor.
            execlp("Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", "1280x800x24", "-nolisten", "tcp", "-noreset",
                   static_cast<char *>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        QByteArray number;
        pollfd readable{fds[0], POLLIN, 0};
        char c;
        while (!number.endsWith('\n') && poll(&readable, 1, 60000) > 0 && read(fds[0], &c, 1) == 1)
            number.append(c);
        close(fds[0]);
        if (!number.endsWith('\n')) {
            stop();
            return QStringLiteral("Xvfb did not start (is it installed? scripts/install-deps installs it)");
        }
        m_display = QLatin1Char(':') + QString::fromLatin1(number.trimmed());
        return {};
    }

    void stop()
    {
        if (m_pid <= 0)
            return;
        kill(m_pid, SIGTERM); // the server removes its socket and lock file on the way out
        // Polled: nothing else tells of the child's end without a signal handler. Killed after 10 s.
        for (int waited = 0; waitpid(m_pid, nullptr, WNOHANG) == 0; waited += 10) {
            if (waited == 10000)
                kill(m_pid, SIGKILL);
            poll(nullptr, 0, 10);
        }
        m_pid = -1;
    }

    // ":N", for DISPLAY.
    QString display() const { return m_display; }

private:
    pid_t m_pid = -1;
    QString m_display;
};

#pragma once

#include <QtGlobal>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

// A child process forked by a test, to hold a lock or play another user, that never outlives the test: it dies with
// the test process, after a minute at the latest, and at the latest when its ForkedChild goes (killed and waited for,
// so that whatever it held, a lock or a socket, is let go by the time the destructor or kill() returns).
//
// The body runs in a copy of a process that has threads: it may only make system calls (no allocation, no Qt, no
// gtest). It talks to the test through `report` (a number with reportNumber()) and may wait for the test on
// `fromTest`, which ends (reads 0) when the test lets go of the child.
class ForkedChild
{
public:
    template<typename Body> explicit ForkedChild(Body body)
    {
        int toTest[2], toChild[2];
        if (::pipe2(toTest, O_CLOEXEC) != 0)
            return;
        if (::pipe2(toChild, O_CLOEXEC) != 0) {
            ::close(toTest[0]);
            ::close(toTest[1]);
            return;
        }
        const pid_t parent = ::getpid();
        m_pid = ::fork();
        if (m_pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent)
                ::_exit(1);
            ::alarm(60);
            ::close(toTest[0]);
            ::close(toChild[1]);
            ::_exit(body(toTest[1], toChild[0]));
        }
        ::close(toTest[1]);
        ::close(toChild[0]);
        m_fromChild = toTest[0];
        m_toChild = toChild[1];
        if (m_pid < 0) {
            ::close(m_fromChild);
            ::close(m_toChild);
            m_fromChild = m_toChild = -1;
        }
    }

    ~ForkedChild() { kill(); }
    ForkedChild(const ForkedChild &) = delete;
    ForkedChild &operator=(const ForkedChild &) = delete;

    bool started() const { return m_pid > 0; }

    // The next number the child reported; none when it reported none within `timeoutMs` (or ended first).
    std::optional<qint64> number(int timeoutMs)
    {
        if (m_fromChild < 0)
            return std::nullopt;
        pollfd entry{m_fromChild, POLLIN, 0};
        if (::poll(&entry, 1, timeoutMs) <= 0)
            return std::nullopt;
        qint64 value;
        if (::read(m_fromChild, &value, sizeof value) != sizeof value)
            return std::nullopt;
        return value;
    }

    // Ends the child outright and waits until it is gone.
    void kill()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            while (::waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
            }
            m_pid = -1;
        }
        for (int *fd : {&m_fromChild, &m_toChild}) {
            if (*fd >= 0)
                ::close(*fd);
            *fd = -1;
        }
    }

    // For the body: tells the test a number.
    static void reportNumber(int report, qint64 value)
    {
        [[maybe_unused]] const ssize_t written = ::write(report, &value, sizeof value);
    }
    // For the body: waits until the test lets go of the child.
    static void waitForTheTest(int fromTest)
    {
        char byte;
        while (::read(fromTest, &byte, 1) < 0 && errno == EINTR) {
        }
    }

private:
    pid_t m_pid = -1;
    int m_fromChild = -1;
    int m_toChild = -1;
};

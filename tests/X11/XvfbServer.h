#pragma once

#include <QString>

#include <sys/types.h>

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
    QString start();
    void stop();
    // ":N", for DISPLAY.
    QString display() const { return m_display; }

private:
    pid_t m_pid = -1;
    QString m_display;
};

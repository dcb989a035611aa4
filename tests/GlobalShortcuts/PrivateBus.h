#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A D-Bus session bus of the test's own: a dbus-daemon on a socket in a temporary folder, with no services to
// start on demand (so no real portal turns up). Stopped when the object goes, killed with the test if it dies.
class PrivateBus
{
public:
    PrivateBus() = default;
    ~PrivateBus() { stop(); }
    PrivateBus(const PrivateBus &) = delete;
    PrivateBus &operator=(const PrivateBus &) = delete;

    // Returns an error text, or an empty one when the bus runs.
    QString start();
    void stop();
    QString address() const { return m_address; }

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;
};

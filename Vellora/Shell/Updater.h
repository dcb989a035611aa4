#pragma once

#include <QDateTime>
#include <QNetworkAccessManager>
#include <QObject>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <functional>

class QNetworkReply;
class QSettings;

// What an update check found.
struct UpdateCheckResult
{
    enum class Kind { updateAvailable, upToDate, failed };

    Kind kind = Kind::failed;
    QString currentVersion;
    QString latestVersion; // the feed's newest version, when the feed could be read
    QUrl downloadPage;     // where the newer version is, with updateAvailable
    QString error;         // what went wrong, with failed
};

// Checks the update feed for a newer version: when the user asks, and once a day in the background. It can
// check while no check runs and a feed is configured. A check the user asked for presents every result; a
// background check presents only a newer version, and keeps quiet about failures.
class Updater : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        QUrl feedUrl;                  // empty: no feed, no checks
        QString currentVersion;        // this app's version
        QSettings *defaults = nullptr; // where the time of the last check is kept; none: not kept
        std::chrono::milliseconds interval = std::chrono::hours(24);
        // How long after start an overdue background check waits, so as not to slow the start.
        std::chrono::milliseconds startDelay = std::chrono::minutes(1);
    };

    static constexpr auto kLastCheckKey = "lastUpdateCheck";
    // Shows the user what a check found: the app shows a dialog, tests keep it.
    using Presenter = std::function<void(const UpdateCheckResult &result)>;

    Updater(Options options, Presenter present, QObject *parent = nullptr);

    bool canCheckForUpdates() const;
    // Whether the build names a feed at all; without one there is nothing to check.
    bool hasFeed() const { return m_options.feedUrl.isValid() && !m_options.feedUrl.isEmpty(); }
    // Schedules the background checks.
    void startUpdater();
    void checkForUpdates() { check(true); }

signals:
    void canCheckForUpdatesChanged(bool canCheck);

private:
    void check(bool userInitiated);
    UpdateCheckResult resultOf(QNetworkReply &reply) const;
    void finish(const UpdateCheckResult &result, bool userInitiated);
    void setChecking(bool checking);
    void scheduleBackgroundCheck();
    QDateTime lastCheck() const;

    Options m_options;
    Presenter m_present;
    QNetworkAccessManager m_network;
    QTimer m_timer;
    QDateTime m_lastCheck; // of this run; earlier runs' is in the defaults
    bool m_checking = false;
    bool m_started = false;
};

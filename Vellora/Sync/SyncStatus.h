#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

// The last sync and how it ended, kept in a small file beside the account file, so that the app and the command
// line (`vellora account status`) both see the last round, whichever of them ran it.
struct SyncStatus
{
    QDateTime time;
    QString server;
    QString user;
    std::optional<QString> error; // none: the round ended well
    // Since when this computer has not reached the server: the push channel is down or the last round failed.
    std::optional<QDateTime> disconnectedSince;

    bool operator==(const SyncStatus &) const = default;

    // $XDG_CONFIG_HOME/vellora-cloud/last-sync.json, or the file beside the given account file.
    static QString filePathFor(const QString &accountFile);
    static std::optional<SyncStatus> readFile(const QString &path);
    // Atomically, readable by the user only; the reason when it could not be written.
    std::optional<QString> writeFile(const QString &path) const;

    // "Synced with anna at https://cloud.example.org, 2 minutes ago", or "Not connected since 14:05 — changes wait
    // here (the reason)".
    QString describe(const QDateTime &now) const;
};

// "just now", "2 minutes ago", "3 hours ago", "yesterday", "5 days ago".
QString timeAgo(const QDateTime &then, const QDateTime &now);
// A server address as every line shows it: as given, scheme and all ("https://cloud.example.org"), since whether
// it is encrypted matters; without a trailing slash.
QString serverText(const QString &server);

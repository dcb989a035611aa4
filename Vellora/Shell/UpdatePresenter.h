#pragma once

#include <QString>
#include <QUrl>

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

// Shows the user what a check found: the app shows a dialog, tests record it.
class UpdatePresenter
{
public:
    virtual ~UpdatePresenter() = default;
    virtual void present(const UpdateCheckResult &result) = 0;
};

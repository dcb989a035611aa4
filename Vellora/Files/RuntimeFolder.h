#pragma once

#include <QString>

#include <sys/types.h>

// The one folder where this user's store locks and the app's sockets live: a folder that belongs to the user alone
// (a real directory, not a link, owned by the user, mode 0700), so that no other user can take a lock or a socket
// name before the user's own vellora does, nor learn anything from them.
namespace RuntimeFolder {

// Where the folder is looked for, in this order.
struct Places
{
    QString runtimeDir;      // $XDG_RUNTIME_DIR; empty (or relative, which the XDG base directory rules say to ignore) when unset
    QString usualRuntimeDir; // /run/user/UID: the same folder for a shell that lacks the variable (a login over ssh)
    QString tempDir;         // where a folder "vellora-UID" is made for this user when neither is there: /tmp
    uid_t uid;               // whose the folder must be: this process's effective user

    static Places ofThisProcess();
};

// The folder, or an empty string with `error` set to why none can be used: $XDG_RUNTIME_DIR, when set, must pass the
// check (a bad one is refused rather than worked around, so that every vellora of the user agrees on the folder);
// /run/user/UID is taken when it passes; else tempDir/vellora-UID is made 0700 and must then pass the check too (one
// that another user made first, or a link, is refused).
QString find(const Places &places, QString *error = nullptr);
QString find(QString *error = nullptr);

// Why `folder` is not private to `uid`, naming the folder; empty when it is.
QString whyNotPrivate(const QString &folder, uid_t uid);

} // namespace RuntimeFolder

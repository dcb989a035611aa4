#pragma once

#include "Vellora/DayData/DayStore.h"
#include "Vellora/DayData/StoreDamage.h"

#include <QByteArray>
#include <QString>

#include <map>
#include <optional>

// The store file: one JSON object with "items" by id, the day this computer last showed ("shownDay") and the sync
// engine's "state".
namespace StoreFile {

// "vellora.json" in the app's folder of the user's data folder; the folder is made when missing, readable by the
// user alone. None when the data folder cannot be had (neither HOME nor XDG_DATA_HOME is set).
std::optional<QString> defaultFilePath();

struct LoadResult
{
    std::optional<DayStore::Saved> saved; // none: start empty
    QString setAsidePath;                 // where an unreadable file was moved, or a damaged one copied, or empty
    StoreDamage damage;                   // what of a file that was read had to be left out or mended
    bool keepOut = false;                 // do not write over the path: see `error`, or the file could not be moved
    QString error;                        // why the path was refused: not a regular file, or not readable
};

// Reads the file. A missing file is simply absent; a file that cannot be decoded is moved aside to
// "vellora.json.unreadable-<UTC time>" first, so that the next save cannot destroy it. A file with damaged items is
// copied there as it was, and then written again with what could be read, so that it is set aside once. A path that
// is not a regular file, or that may not be read, is refused and left alone; so is a damaged file that cannot be
// copied aside or written again (the error says why).
LoadResult load(const QString &path);
// Reads and decodes the file with no other effect, for a look at it without the store's lock; none when it is
// missing, unreadable or damaged.
std::optional<DayStore::Saved> peek(const QString &path);

// Writes the whole file atomically: either it is on disk, or the old file stays as it was and the reason comes back
// in words.
std::optional<QString> save(const QString &path, const DayStore::Saved &saved);

// The file's text: an indented JSON object, keys sorted.
QByteArray encode(const DayStore::Saved &saved);
// Nothing when the text is not a store file; `damage` says what was left out or mended.
std::optional<DayStore::Saved> decode(QByteArray bytes, StoreDamage *damage = nullptr);

} // namespace StoreFile

#pragma once

#include <QString>
#include <QStringList>

// What reading a store file had to leave out or mend. Any of it, and the file as it was is kept aside before the
// store is written again, so that a person can still find what was left out.
struct StoreDamage
{
    int unreadableItems = 0; // items left out: a value of the wrong kind, an unknown block, a bad date
    int mendedTexts = 0;     // byte sequences that are not UTF-8, read as U+FFFD

    bool any() const { return unreadableItems > 0 || mendedTexts > 0; }
    bool operator==(const StoreDamage &) const = default;

    // One sentence for a person, without a full stop: what was lost or mended and where the old file is kept.
    QString describe(const QString &asidePath) const
    {
        QStringList parts;
        if (unreadableItems == 1)
            parts.append(QStringLiteral("1 item in the store file could not be read and was left out"));
        else if (unreadableItems > 1)
            parts.append(
                QStringLiteral("%1 items in the store file could not be read and were left out").arg(unreadableItems));
        if (mendedTexts > 0)
            parts.append(QStringLiteral("%1 in the store file %2 not UTF-8 and now %3 \uFFFD")
                             .arg(mendedTexts == 1 ? QStringLiteral("1 piece of text")
                                                   : QStringLiteral("%1 pieces of text").arg(mendedTexts),
                                  mendedTexts == 1 ? QStringLiteral("was") : QStringLiteral("were"),
                                  mendedTexts == 1 ? QStringLiteral("shows") : QStringLiteral("show")));
        return parts.join(QStringLiteral("; ")) + QStringLiteral("; the file as it was is kept as %1").arg(asidePath);
    }
};

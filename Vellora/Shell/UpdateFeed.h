#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

#include <variant>

// One release in the update feed.
struct UpdateFeedItem
{
    QString title;
    QString version;
    QUrl downloadPage;
};

// The update feed: an RSS document whose items each carry a version (a "version" attribute of the enclosure, or a
// "version" element of the item, in any namespace) and a download link (the item's link, or else the enclosure's
// address). Items that lack either are skipped. Gives the items, or a description of what is wrong with the feed.
std::variant<QList<UpdateFeedItem>, QString> parseUpdateFeed(const QByteArray &bytes);

// Compares two version texts part by part ("1.10.0" is newer than "1.9"; a missing part counts as 0; a leading "v"
// is ignored; a part with letters, such as "beta", comes before any number). Negative, zero or positive.
int compareVersions(const QString &a, const QString &b);

// The newest item of a feed that has at least one.
const UpdateFeedItem &newestItem(const QList<UpdateFeedItem> &items);

#include "Vellora/Shell/UpdateFeed.h"

#include <QRegularExpression>
#include <QXmlStreamReader>

#include <algorithm>
#include <optional>

namespace {

struct ItemDraft
{
    QString title, version, link, enclosureUrl, enclosureVersion;
};

void readItem(QXmlStreamReader &xml, ItemDraft &draft)
{
    while (xml.readNextStartElement()) {
        const auto name = xml.name();
        if (name == QLatin1String("enclosure")) {
            const auto attributes = xml.attributes();
            for (const QXmlStreamAttribute &attribute : attributes) {
                if (attribute.name() == QLatin1String("version"))
                    draft.enclosureVersion = attribute.value().toString().trimmed();
                else if (attribute.name() == QLatin1String("url"))
                    draft.enclosureUrl = attribute.value().toString().trimmed();
            }
            xml.skipCurrentElement();
        } else if (name == QLatin1String("title")) {
            draft.title = xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
        } else if (name == QLatin1String("link")) {
            draft.link = xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
        } else if (name == QLatin1String("version")) {
            draft.version = xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
        } else {
            xml.skipCurrentElement();
        }
    }
}

// Only web addresses are offered to the user: a feed must not make the app open a file or run a handler.
QUrl webAddress(const QString &text)
{
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return {};
    return url.scheme() == QLatin1String("https") || url.scheme() == QLatin1String("http") ? url : QUrl();
}

std::optional<UpdateFeedItem> finish(const ItemDraft &draft)
{
    const QString version = draft.enclosureVersion.isEmpty() ? draft.version : draft.enclosureVersion;
    QUrl page = webAddress(draft.link);
    if (page.isEmpty())
        page = webAddress(draft.enclosureUrl);
    if (version.isEmpty() || page.isEmpty())
        return std::nullopt;
    return UpdateFeedItem{draft.title, version, page};
}

QStringList versionParts(QString text)
{
    text = text.trimmed();
    if (text.startsWith(QLatin1Char('v'), Qt::CaseInsensitive))
        text.remove(0, 1);
    static const QRegularExpression separators(QStringLiteral("[.\\-+_ ]"));
    return text.split(separators, Qt::SkipEmptyParts);
}

bool isNumber(const QString &part)
{
    return !part.isEmpty() && std::all_of(part.begin(), part.end(), [](QChar c) { return c.isDigit(); });
}

// Numbers of any length compare by value: without leading zeros, the longer is larger.
int compareNumbers(QString a, QString b)
{
    while (a.size() > 1 && a.startsWith(QLatin1Char('0')))
        a.remove(0, 1);
    while (b.size() > 1 && b.startsWith(QLatin1Char('0')))
        b.remove(0, 1);
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b);
}

int compareParts(const QString &a, const QString &b)
{
    const bool aNumber = isNumber(a), bNumber = isNumber(b);
    if (aNumber && bNumber)
        return compareNumbers(a, b);
    if (aNumber != bNumber)
        return aNumber ? 1 : -1; // "1.0" is newer than "1.0-beta"
    return a.compare(b);
}

} // namespace

std::variant<QList<UpdateFeedItem>, QString> parseUpdateFeed(const QByteArray &bytes)
{
    QXmlStreamReader xml(bytes);
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("rss"))
        return xml.hasError() ? QStringLiteral("The update feed is not valid XML: %1 (line %2).")
                                    .arg(xml.errorString())
                                    .arg(xml.lineNumber())
                              : QStringLiteral("The update feed is not an RSS feed.");

    QList<UpdateFeedItem> items;
    while (xml.readNextStartElement()) {
        if (xml.name() != QLatin1String("channel")) {
            xml.skipCurrentElement();
            continue;
        }
        while (xml.readNextStartElement()) {
            if (xml.name() != QLatin1String("item")) {
                xml.skipCurrentElement();
                continue;
            }
            ItemDraft draft;
            readItem(xml, draft);
            if (const auto item = finish(draft))
                items.append(*item);
        }
    }
    if (xml.hasError())
        return QStringLiteral("The update feed is not valid XML: %1 (line %2).")
            .arg(xml.errorString())
            .arg(xml.lineNumber());
    if (items.isEmpty())
        return QStringLiteral("The update feed lists no version to download.");
    return items;
}

int compareVersions(const QString &a, const QString &b)
{
    const QStringList x = versionParts(a);
    const QStringList y = versionParts(b);
    for (qsizetype i = 0; i < std::max(x.size(), y.size()); ++i) {
        const int order =
            compareParts(i < x.size() ? x[i] : QStringLiteral("0"), i < y.size() ? y[i] : QStringLiteral("0"));
        if (order != 0)
            return order;
    }
    return 0;
}

const UpdateFeedItem &newestItem(const QList<UpdateFeedItem> &items)
{
    return *std::max_element(items.begin(), items.end(), [](const UpdateFeedItem &a, const UpdateFeedItem &b) {
        return compareVersions(a.version, b.version) < 0;
    });
}

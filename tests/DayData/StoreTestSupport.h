#pragma once

#include "Vellora/DayData/DayStore.h"

#include <QDateTime>
#include <QHash>
#include <QTemporaryDir>

#include <memory>

// A store on a controllable clock, optionally with a file and a queue-keeping engine.
struct StoreFixture
{
    QTemporaryDir dir;
    QDateTime clock = QDateTime(QDate(2025, 3, 5), QTime(9, 0), Qt::UTC);
    QHash<QString, QString> ids; // title -> id of the items `given` added
    QString file = dir.filePath("vellora.json");

    // Each call of the clock moves it one second on, so consecutive changes are ordered.
    DayStore::Clock tickingClock()
    {
        return [this] { return clock = clock.addSecs(1); };
    }

    std::unique_ptr<DayStore> make(bool withFile = true, bool withEngine = false)
    {
        DayStore::Options options;
        if (withFile)
            options.filePath = file;
        options.calendar = Calendar::inTimeZone("UTC");
        options.clock = tickingClock();
        options.now = clock;
        options.allowSync = withEngine;
        options.saveRetryMs = 20; // a failed save is soon tried again
        options.makeEngine = [](DayStore &, const std::optional<DayStore::Serialization> &state) {
            SyncKit::SyncEngine::Configuration configuration;
            configuration.stateSerialization = state;
            return std::make_unique<SyncKit::SyncEngine>(std::move(configuration));
        };
        return std::make_unique<DayStore>(std::move(options));
    }

    // Adds items in order: "b:title" into the big block, "m:…" medium, "s:…" small; a trailing '*' ticks it.
    void given(DayStore &store, const QString &spec)
    {
        for (QString token : spec.split(' ', Qt::SkipEmptyParts)) {
            const bool done = token.endsWith('*');
            if (done)
                token.chop(1);
            const Block block = token[0] == 'b' ? Block::big : token[0] == 'm' ? Block::medium : Block::small;
            const QString id = store.addItem(token.mid(2), block)->id;
            ids.insert(token.mid(2), id);
            if (done)
                store.toggleDone(id);
        }
    }

    QString id(const QString &title) const { return ids.value(title, QStringLiteral("NO-SUCH-ID")); }
};

// The sheet and the Backlog in one line: "big / medium / small | backlog", each list in its order, a done item
// with a '*', a Backlog item with its block's letter.
inline std::string layout(const DayStore &store)
{
    QStringList parts;
    auto titled = [](const DayItem &item) { return item.title + (item.done ? "*" : ""); };
    for (Block block : kAllBlocks) {
        QStringList titles;
        for (const DayItem &item : store.itemsIn(block))
            titles.append(titled(item));
        parts.append(titles.join(','));
    }
    QStringList backlog;
    for (const DayItem &item : store.backlogItems())
        backlog.append((item.block == Block::big ? "b:" : item.block == Block::medium ? "m:" : "s:") + titled(item));
    return (parts.join(" / ") + " | " + backlog.join(',')).toStdString();
}

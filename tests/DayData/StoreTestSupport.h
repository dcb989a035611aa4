#pragma once

#include "Vellora/DayData/DayStore.h"

#include <QDateTime>
#include <QHash>
#include <QTemporaryDir>

#include <memory>

// A store on a controllable clock, optionally with a file, and what it told as changed.
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

    // What the store told as changed since it was made, in order: "save ID" for an item it holds, "delete ID" for
    // one it does not; at open too.
    QStringList told;

    std::unique_ptr<DayStore> make(bool withFile = true)
    {
        DayStore::Options options;
        if (withFile)
            options.filePath = file;
        options.calendar = Calendar::inTimeZone("UTC");
        options.clock = tickingClock();
        options.now = clock;
        options.openDay = false;
        options.saveRetryMs = 20; // a failed save is soon tried again
        auto store = std::make_unique<DayStore>(std::move(options));
        told.clear();
        QObject::connect(store.get(), &DayStore::itemsChanged, [this, store = store.get()](const QStringList &ids) {
            for (const QString &id : ids)
                told.append((store->item(id) ? "save " : "delete ") + id);
        });
        store->openDay();
        return store;
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

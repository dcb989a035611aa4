#pragma once

#include "Vellora/DayData/DayStore.h"

#include <QDateTime>
#include <QTemporaryDir>

#include <memory>

// A store on a controllable clock, optionally with a file and a queue-keeping engine.
struct StoreFixture
{
    QTemporaryDir dir;
    QDateTime clock = QDateTime(QDate(2025, 3, 5), QTime(9, 0), Qt::UTC);

    QString filePath() const { return dir.filePath("vellora.json"); }

    // Each call of the clock moves it one second on, so consecutive changes are ordered.
    DayStore::Clock tickingClock()
    {
        return [this] {
            clock = clock.addSecs(1);
            return clock;
        };
    }

    std::unique_ptr<DayStore> make(bool withFile = true, bool withEngine = false)
    {
        DayStore::Options options;
        if (withFile)
            options.fileURL = filePath();
        options.calendar = Calendar::make("en_US", "UTC");
        options.clock = tickingClock();
        options.now = clock;
        options.allowSync = withEngine;
        options.makeEngine = [](DayStore &, const std::optional<DayStore::Serialization> &state) {
            SyncKit::SyncEngine::Configuration configuration;
            configuration.database = nullptr;
            configuration.stateSerialization = state;
            configuration.delegate = nullptr;
            return std::make_unique<SyncKit::SyncEngine>(std::move(configuration));
        };
        return std::make_unique<DayStore>(std::move(options));
    }
};

inline QStringList titles(const QList<DayItem> &items)
{
    QStringList result;
    for (const DayItem &item : items)
        result.append(item.title);
    return result;
}

#include "Vellora/DayData/StoreFile.h"
#include "Vellora/Sync/AppStore.h"

#include "SyncKit/SyncEngine.h"

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using SyncKit::PendingRecordZoneChange;

namespace {

int runVellora(const QStringList &arguments, const QString &configHome)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CONFIG_HOME", configHome);
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(VELLORA_BINARY), arguments);
    if (!process.waitForFinished(30000))
        return -1;
    return process.exitCode();
}

} // namespace

TEST(CommandLineSync, EachCommandLeavesItsChangeQueuedInTheFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("vellora.json");
    const auto queued = [&] {
        const auto saved = StoreFile::load(path).saved;
        return saved && saved->state ? saved->state->recordZoneChanges : QList<PendingRecordZoneChange>();
    };
    ASSERT_EQ(runVellora({"--store", path, "add", "Buy milk", "--block", "medium"}, dir.path()), 0);
    const auto saved = StoreFile::load(path).saved;
    ASSERT_TRUE(saved);
    ASSERT_EQ(saved->items.size(), 1u);
    const SyncKit::RecordID recordID{saved->items.begin()->first, syncZoneID()};
    EXPECT_EQ(queued(), QList{PendingRecordZoneChange::save(recordID)});

    ASSERT_EQ(runVellora({"--store", path, "delete", "3.0"}, dir.path()), 0);
    EXPECT_EQ(queued(), QList{PendingRecordZoneChange::remove(recordID)});

    // The app's own start picks the queue up where the command line left it.
    const auto store = makeAppStore(path);
    ASSERT_TRUE(store->engine());
    EXPECT_EQ(store->engine()->state().pendingRecordZoneChanges(), QList{PendingRecordZoneChange::remove(recordID)});
    EXPECT_EQ(store->engine()->state().pendingDatabaseChanges().size(), 1); // the zone, never sent
}

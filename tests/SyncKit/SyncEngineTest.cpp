#include "tests/SyncKit/MemoryCloud.h"
#include "SyncKit/SyncEngine.h"
#include "SyncKit/SyncEngineDelegate.h"

#include "tests/WaitFor.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <utility>

using namespace SyncKit;
using namespace std::chrono_literals;

namespace {

const RecordZoneID kZone{QStringLiteral("Vellora")};

RecordID idOf(const QString &name)
{
    return RecordID{name, kZone};
}

// A local side that keeps records in a table and remembers every event.
class RecordingDelegate : public SyncEngineDelegate
{
public:
    void handleEvent(const SyncEngineEvent &event, SyncEngine &) override
    {
        events.push_back(event);
        if (const auto *update = std::get_if<SyncEvent::StateUpdate>(&event))
            savedState = update->stateSerialization;
        if (const auto *fetched = std::get_if<SyncEvent::FetchedRecordZoneChanges>(&event)) {
            for (const Record &record : fetched->modifications)
                records.insert(record.recordID(), record);
            for (const RecordDeletion &deletion : fetched->deletions)
                records.remove(deletion.recordID);
        }
        if (const auto *sent = std::get_if<SyncEvent::SentRecordZoneChanges>(&event)) {
            // The server's bookkeeping; the content may have changed meanwhile.
            for (const Record &saved : sent->savedRecords) {
                Record &local = records[saved.recordID()];
                local.setSystemFields(saved.recordChangeTag(), saved.creationDate(), saved.modificationDate());
            }
        }
    }

    std::optional<RecordZoneChangeBatch> nextRecordZoneChangeBatch(const SendChangesContext &context,
                                                                  SyncEngine &engine) override
    {
        QList<PendingRecordZoneChange> changes;
        for (const auto &change : engine.state().pendingRecordZoneChanges()) {
            if (context.options.scope.contains(change))
                changes.append(change);
        }
        if (changes.isEmpty())
            return std::nullopt;
        return RecordZoneChangeBatch(changes, [this](const RecordID &id) {
            return records.contains(id) ? std::optional(records.value(id)) : std::nullopt;
        });
    }

    template<typename Event>
    QList<Event> eventsOf() const
    {
        QList<Event> found;
        for (const auto &event : events) {
            if (const auto *typed = std::get_if<Event>(&event))
                found.append(*typed);
        }
        return found;
    }

    // Changes a record locally as the user would, and queues it.
    void edit(SyncEngine &engine, const QString &name, const QString &title)
    {
        Record record = records.value(idOf(name), Record(QStringLiteral("Note"), idOf(name)));
        record.setValue("title", title);
        records.insert(idOf(name), record);
        engine.state().add(QList{PendingRecordZoneChange::save(idOf(name))});
    }

    std::vector<SyncEngineEvent> events;
    std::optional<SyncEngineState::Serialization> savedState;
    QHash<RecordID, Record> records;
};

class SyncEngineTest : public testing::Test
{
protected:
    void SetUp() override { account = cloud.addAccount("anna"); }

    std::unique_ptr<SyncEngine> makeEngine(RecordingDelegate &delegate, bool automatic = false,
                                           std::optional<SyncEngineState::Serialization> state = std::nullopt, SyncEngine::Timing timing = {5ms, 5ms, 10ms, 40ms})
    {
        SyncEngine::Configuration configuration;
        configuration.database = &cloud;
        configuration.delegate = &delegate;
        configuration.stateSerialization = std::move(state);
        configuration.accountFile.reset();
        configuration.account = account;
        configuration.automaticallySync = automatic;
        configuration.timing = timing;
        configuration.requestSize = 3;
        configuration.fetchLimit = 4;
        auto engine = std::make_unique<SyncEngine>(std::move(configuration));
        engine->state().add(QList{PendingDatabaseChange::saveZone(kZone)});
        return engine;
    }

    MemoryCloud cloud;
    CloudAccount account;
};

} // namespace

TEST_F(SyncEngineTest, SendsInRequestsAndReportsTheStateOnceAtTheEnd)
{
    RecordingDelegate delegate;
    auto engine = makeEngine(delegate);
    delegate.events.clear();
    // A change from outside the engine's work is reported at once, so that it reaches the store file.
    delegate.edit(*engine, "0", "title");
    ASSERT_EQ(delegate.events.size(), 1u);
    EXPECT_EQ(delegate.savedState->recordZoneChanges, QList{PendingRecordZoneChange::save(idOf("0"))});
    for (int i = 1; i < 7; ++i)
        delegate.edit(*engine, QString::number(i), QStringLiteral("title %1").arg(i));
    delegate.events.clear();

    std::optional<std::optional<CloudError>> outcome;
    engine->sendChanges({}, [&](const auto &error) { outcome = error; });
    ASSERT_TRUE(outcome);
    EXPECT_FALSE(*outcome);
    EXPECT_TRUE(engine->state().pendingRecordZoneChanges().isEmpty());
    EXPECT_TRUE(engine->state().pendingDatabaseChanges().isEmpty());
    EXPECT_EQ(cloud.records("anna", kZone).size(), 7);
    EXPECT_EQ(cloud.callCount(MemoryCloud::Call::modifyRecords), 3); // 3 + 3 + 1
    EXPECT_EQ(delegate.eventsOf<SyncEvent::SentRecordZoneChanges>().size(), 3);
    // One state update, the last event; nothing fetched by a send.
    EXPECT_EQ(delegate.eventsOf<SyncEvent::StateUpdate>().size(), 1);
    EXPECT_TRUE(std::holds_alternative<SyncEvent::StateUpdate>(delegate.events.back()));
    EXPECT_EQ(cloud.callCount(MemoryCloud::Call::fetchDatabaseChanges), 0);

    // A scope sends only what it names.
    delegate.edit(*engine, "A", "a");
    delegate.edit(*engine, "B", "b");
    engine->sendChanges({SendChangesScope::records({idOf("B")})});
    EXPECT_FALSE(cloud.record("anna", idOf("A")));
    EXPECT_EQ(engine->state().pendingRecordZoneChanges(), QList{PendingRecordZoneChange::save(idOf("A"))});
}

TEST_F(SyncEngineTest, WithoutAWorkingAccountChangesStayQueuedUntilTheNextSignIn)
{
    RecordingDelegate delegate;
    auto engine = makeEngine(delegate, true);
    engine->setAccount(std::nullopt);
    QCoreApplication::processEvents(); // the engine has started, and found no account
    delegate.edit(*engine, "A", "one");
    std::optional<std::optional<CloudError>> outcome;
    engine->syncChanges([&](const auto &error) { outcome = error; });
    ASSERT_TRUE(outcome && *outcome);
    EXPECT_EQ((*outcome)->code(), CloudError::Code::notAuthenticated);
    EXPECT_FALSE(engine->isScheduled());
    EXPECT_EQ(engine->state().pendingRecordZoneChanges().size(), 1);
    engine->setAccount(account);
    ASSERT_EVENTUALLY(cloud.record("anna", idOf("A")).has_value());

    // A refused token stops the engine until a sign-in, even of the same user.
    cloud.revokeTokens("anna");
    const int calls = cloud.callCount(MemoryCloud::Call::modifyRecords);
    delegate.edit(*engine, "B", "two");
    ASSERT_EVENTUALLY(!engine->isWorking() && cloud.callCount(MemoryCloud::Call::modifyRecords) == calls + 1);
    EXPECT_FALSE(engine->isScheduled());
    delegate.edit(*engine, "C", "three");
    EXPECT_FALSE(engine->isScheduled());
    delegate.events.clear();
    engine->setAccount(cloud.addAccount("anna"));
    ASSERT_EVENTUALLY(cloud.record("anna", idOf("C")).has_value());
    EXPECT_TRUE(delegate.eventsOf<SyncEvent::AccountChange>().isEmpty()); // the same account
}

TEST_F(SyncEngineTest, FetchesInPagesAndOnlyWhatIsNew)
{
    RecordingDelegate writer;
    auto writerEngine = makeEngine(writer);
    for (int i = 0; i < 6; ++i)
        writer.edit(*writerEngine, QString::number(i), "x");
    writerEngine->sendChanges();
    RecordingDelegate reader;
    auto readerEngine = makeEngine(reader);
    readerEngine->fetchChanges();
    EXPECT_EQ(reader.records.size(), 6);
    EXPECT_EQ(reader.eventsOf<SyncEvent::FetchedRecordZoneChanges>().size(), 2); // pages of 4 and 2

    writer.edit(*writerEngine, "2", "changed");
    writerEngine->state().add(QList{PendingRecordZoneChange::remove(idOf("3"))});
    writerEngine->sendChanges();
    reader.events.clear();
    readerEngine->fetchChanges();
    const auto fetched = reader.eventsOf<SyncEvent::FetchedRecordZoneChanges>();
    ASSERT_EQ(fetched.size(), 1);
    ASSERT_EQ(fetched[0].modifications.size(), 1);
    EXPECT_EQ(fetched[0].modifications[0].stringValue("title"), "changed");
    ASSERT_EQ(fetched[0].deletions.size(), 1);
    EXPECT_EQ(fetched[0].deletions[0].recordID, idOf("3"));
    EXPECT_EQ(fetched[0].deletions[0].recordType, "Note");

    // The tokens survive a restart: a new engine from the saved state fetches nothing old.
    RecordingDelegate restarted;
    auto restartedEngine = makeEngine(restarted, false, reader.savedState);
    restartedEngine->fetchChanges();
    EXPECT_TRUE(restarted.eventsOf<SyncEvent::FetchedRecordZoneChanges>().isEmpty());

    // A zone deleted and made again is reported and fetched afresh.
    cloud.deleteZone("anna", kZone);
    writerEngine->state().add(QList{PendingDatabaseChange::saveZone(kZone)});
    writer.records.clear();
    writer.edit(*writerEngine, "B", "b");
    writerEngine->sendChanges();
    reader.events.clear();
    readerEngine->fetchChanges();
    const auto database = reader.eventsOf<SyncEvent::FetchedDatabaseChanges>();
    ASSERT_EQ(database.size(), 1);
    EXPECT_EQ(database[0].deletions, QList{kZone});
    EXPECT_EQ(database[0].modifications, QList{kZone});
    const auto again = reader.eventsOf<SyncEvent::FetchedRecordZoneChanges>();
    ASSERT_EQ(again.size(), 1);
    EXPECT_EQ(again[0].modifications.value(0).recordID(), idOf("B"));
}

TEST_F(SyncEngineTest, SyncSendsBeforeItFetches)
{
    RecordingDelegate other;
    auto otherEngine = makeEngine(other);
    other.edit(*otherEngine, "A", "theirs");
    otherEngine->sendChanges();

    RecordingDelegate delegate;
    auto engine = makeEngine(delegate);
    delegate.events.clear();
    delegate.edit(*engine, "B", "mine");
    engine->syncChanges();
    const auto firstOf = [&](auto isEvent) {
        return std::find_if(delegate.events.begin(), delegate.events.end(), isEvent) - delegate.events.begin();
    };
    EXPECT_LT(firstOf([](const auto &e) { return std::holds_alternative<SyncEvent::SentRecordZoneChanges>(e); }),
              firstOf([](const auto &e) { return std::holds_alternative<SyncEvent::FetchedRecordZoneChanges>(e); }));
    EXPECT_EQ(delegate.records.size(), 2);

    // A send that fails leaves the fetch for later: nothing local is replaced before it was offered.
    delegate.edit(*engine, "A", "mine too");
    cloud.failNextCalls(1);
    const int fetchesBefore = cloud.callCount(MemoryCloud::Call::fetchDatabaseChanges);
    engine->syncChanges();
    EXPECT_EQ(cloud.callCount(MemoryCloud::Call::fetchDatabaseChanges), fetchesBefore);
    EXPECT_EQ(delegate.records.value(idOf("A")).stringValue("title"), "mine too");
}

TEST_F(SyncEngineTest, NetworkFailuresKeepTheQueueAndAreRetriedWithGrowingPauses)
{
    RecordingDelegate delegate;
    auto engine = makeEngine(delegate, true, std::nullopt, {5ms, 5ms, 20ms, 1000ms});
    cloud.failNextCalls(5);
    QElapsedTimer elapsed;
    elapsed.start();
    delegate.edit(*engine, "A", "one");
    ASSERT_EVENTUALLY(cloud.record("anna", idOf("A")).has_value());
    // At least pauses of 20, 40, 80, 160 and 320 ms after the five failures (620 ms, where pauses that did not grow
    // would take 100): the engine does not hammer a failing network.
    EXPECT_GE(elapsed.elapsed(), 500);
    EXPECT_EQ(cloud.callCount(MemoryCloud::Call::modifyZones), 6);
    EXPECT_TRUE(engine->state().pendingRecordZoneChanges().isEmpty());

    // A lost answer: the change stays queued although the server has it; the next try meets the server copy.
    delegate.events.clear();
    cloud.failNextCalls(1, MemoryCloud::Fault::dropResponse);
    delegate.edit(*engine, "A", "two");
    ASSERT_EVENTUALLY(!delegate.eventsOf<SyncEvent::SentRecordZoneChanges>().isEmpty());
    const auto sent = delegate.eventsOf<SyncEvent::SentRecordZoneChanges>();
    ASSERT_EQ(sent[0].failedRecordSaves.size(), 1);
    EXPECT_EQ(sent[0].failedRecordSaves[0].error.code(), CloudError::Code::serverRecordChanged);
    EXPECT_EQ(sent[0].failedRecordSaves[0].error.serverRecord()->stringValue("title"), "two");
}

TEST_F(SyncEngineTest, ASuccessEndsTheBackOff)
{
    // Pauses from 1 ms up to an hour: thirty failures in a row reach the longest.
    RecordingDelegate delegate;
    auto engine = makeEngine(delegate, true, std::nullopt, {5ms, 5ms, 1ms, std::chrono::hours(1)});
    QSignalSpy finished(engine.get(), &SyncEngine::workFinished);
    cloud.failNextCalls(30);
    for (int i = 0; i <= 30; ++i)
        engine->fetchChanges();
    ASSERT_EVENTUALLY(!engine->isScheduled() && !engine->isWorking());
    // After one failure more, the next try comes after the first pause again, not after the longest.
    cloud.failNextCalls(1);
    engine->fetchChanges();
    const qsizetype before = finished.size();
    ASSERT_EVENTUALLY(finished.size() > before);
}

TEST_F(SyncEngineTest, FetchesByItselfAtStartOnPushAndAfterAnAccountChange)
{
    const CloudAccount bert = cloud.addAccount("bert");
    for (const CloudAccount &owner : {account, bert}) {
        RecordingDelegate writer;
        auto writerEngine = makeEngine(writer);
        writerEngine->setAccount(owner);
        writer.edit(*writerEngine, "A", owner.user);
        writerEngine->sendChanges();
    }
    RecordingDelegate delegate;
    auto engine = makeEngine(delegate, true);
    ASSERT_EVENTUALLY(delegate.records.value(idOf("A")).stringValue("title") == QStringLiteral("anna"));
    RecordingDelegate writer;
    auto writerEngine = makeEngine(writer, true);
    writer.edit(*writerEngine, "B", "hello");
    ASSERT_EVENTUALLY(delegate.records.value(idOf("B")).stringValue("title") == QStringLiteral("hello"));

    engine->setAccount(bert);
    ASSERT_EVENTUALLY(delegate.records.value(idOf("A")).stringValue("title") == QStringLiteral("bert"));
}

TEST_F(SyncEngineTest, AChangeQueuedWhileItsSendIsUnderwayIsSentToo)
{
    cloud.setAnswersDeferred(true);
    RecordingDelegate delegate;
    auto engine = makeEngine(delegate);
    delegate.edit(*engine, "A", "one");
    // The server has stored "one" and its answer is on the way when the user edits again.
    bool editedInFlight = false;
    QObject::connect(&cloud, &CloudDatabase::databaseChanged, [&] {
        if (cloud.record("anna", idOf("A")) && !editedInFlight) {
            editedInFlight = true;
            delegate.edit(*engine, "A", "two");
        }
    });
    bool finished = false;
    engine->sendChanges({}, [&](const auto &) { finished = true; });
    ASSERT_EVENTUALLY(finished);
    ASSERT_TRUE(editedInFlight);
    // The answer for "one" did not take the newer change off the queue: the same send sent it next.
    EXPECT_EQ(cloud.record("anna", idOf("A"))->stringValue("title"), "two");
    EXPECT_TRUE(engine->state().pendingRecordZoneChanges().isEmpty());
}

TEST_F(SyncEngineTest, AccountFileChangesAreReported)
{
    QTemporaryDir config;
    const QString path = config.path() + "/vellora-cloud/account.json";
    RecordingDelegate delegate;
    SyncEngine::Configuration configuration;
    configuration.database = &cloud;
    configuration.delegate = &delegate;
    configuration.accountFile = path;
    configuration.automaticallySync = false;
    SyncEngine engine(configuration);
    using ChangeType = SyncEvent::AccountChange::ChangeType;
    auto changes = [&] {
        QList<ChangeType> types;
        for (const auto &change : delegate.eventsOf<SyncEvent::AccountChange>())
            types.append(change.changeType);
        return types;
    };
    ASSERT_TRUE(account.writeFile(path));
    ASSERT_EVENTUALLY(changes() == QList{ChangeType::signIn});
    EXPECT_EQ(engine.account(), account);
    EXPECT_EQ(QFile(path).permissions() & (QFile::ReadGroup | QFile::ReadOther), 0);
    ASSERT_TRUE(cloud.addAccount("bert").writeFile(path));
    ASSERT_EVENTUALLY(changes() == QList({ChangeType::signIn, ChangeType::switchAccounts}));
    // A new token of the same user is no change of account.
    const CloudAccount bertAgain = cloud.addAccount("bert");
    ASSERT_TRUE(bertAgain.writeFile(path));
    ASSERT_EVENTUALLY(engine.account() == bertAgain);
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_EVENTUALLY(changes() == QList({ChangeType::signIn, ChangeType::switchAccounts, ChangeType::signOut}));
    EXPECT_FALSE(delegate.savedState->account);

    // A file that does not hold a whole account holds none.
    EXPECT_FALSE(CloudAccount::readFile(path));
    QFile file(path);
    for (const char *content : {"", "[]", R"({"server": "s", "user": "anna"})",
                                R"({"server": "s", "user": 1, "token": "t"})",
                                R"({"server": "", "user": "anna", "token": "t"})"}) {
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
        file.close();
        EXPECT_FALSE(CloudAccount::readFile(path)) << content;
    }
}

// A fetch under way when the account changes ends at once; its answer, when it comes, is dropped, and what waited
// to be sent for the old account is never sent to the new one.
TEST_F(SyncEngineTest, AnswersThatComeAfterAnAccountChangeAreDropped)
{
    {
        RecordingDelegate writer;
        auto writerEngine = makeEngine(writer);
        writer.edit(*writerEngine, "A", "anna's");
        writerEngine->sendChanges();
    }
    const CloudAccount bert = cloud.addAccount("bert");
    cloud.setAnswersDeferred(true);
    RecordingDelegate delegate;
    auto engine = makeEngine(delegate);
    delegate.edit(*engine, "W", "waits for anna");
    // Bert signs in while anna's records are on their way.
    bool switched = false;
    cloud.setFaultInjector([&](MemoryCloud::Call call) {
        if (call == MemoryCloud::Call::fetchZoneChanges && !std::exchange(switched, true))
            QTimer::singleShot(0, &cloud, [&] { engine->setAccount(bert); });
        return MemoryCloud::Fault::none;
    });
    std::optional<std::optional<CloudError>> outcome;
    engine->fetchChanges([&](const auto &error) { outcome = error; });
    ASSERT_EVENTUALLY(outcome);
    ASSERT_TRUE(switched);
    cloud.setFaultInjector({});
    ASSERT_TRUE(*outcome);
    EXPECT_EQ((*outcome)->code(), CloudError::Code::operationCancelled);
    EXPECT_TRUE(engine->state().pendingRecordZoneChanges().isEmpty());

    bool synced = false;
    engine->syncChanges([&](const auto &error) { synced = !error; });
    ASSERT_EVENTUALLY(synced);
    EXPECT_TRUE(delegate.eventsOf<SyncEvent::FetchedRecordZoneChanges>().isEmpty());
    EXPECT_FALSE(delegate.records.contains(idOf("A")));
    EXPECT_FALSE(cloud.record("bert", idOf("W")));
    EXPECT_FALSE(cloud.record("bert", idOf("A")));
    EXPECT_EQ(delegate.savedState->account, (CloudAccount{bert.server, bert.user, {}}));
}

// The push channel speaking again means the server is back: what waits goes at once, not after the pause.
TEST_F(SyncEngineTest, AServerThatSpeaksAgainEndsThePauseAtOnce)
{
    RecordingDelegate delegate;
    auto engine = makeEngine(delegate, true, std::nullopt, {5ms, 5ms, std::chrono::hours(1), std::chrono::hours(1)});
    cloud.failNextCalls(1);
    delegate.edit(*engine, "A", "one");
    ASSERT_EVENTUALLY(cloud.callCount(MemoryCloud::Call::modifyZones) == 1 && !engine->isWorking());
    EXPECT_TRUE(engine->isScheduled()); // in an hour
    emit cloud.databaseChanged(account.server, account.user);
    ASSERT_EVENTUALLY(cloud.record("anna", idOf("A")).has_value());
}

// Nothing waits but the cloud: a change goes at the next turn of the event loop, and those made while its request
// is out go together in the next request as soon as its answer is in, never after a pause. Counted in turns of the
// event loop, not in time: a pause of any length would need more than a few.
TEST_F(SyncEngineTest, AChangeGoesAtOnceAndThoseMadeWhileItIsOutRightAfterIt)
{
    RecordingDelegate delegate;
    auto engine = makeEngine(delegate, true, std::nullopt, SyncEngine::Timing{});
    cloud.setAnswersDeferred(true);
    ASSERT_EVENTUALLY(cloud.callCount(MemoryCloud::Call::fetchDatabaseChanges) > 0 && !engine->isWorking() &&
                      !engine->isScheduled());
    const auto withinTurns = [](int turns, const std::function<bool()> &done) {
        for (int turn = 0; turn < turns && !done(); ++turn)
            QCoreApplication::processEvents();
        return done();
    };
    const int requests = cloud.callCount(MemoryCloud::Call::modifyRecords);
    delegate.edit(*engine, "A", "one");
    ASSERT_TRUE(withinTurns(3, [&] { return cloud.callCount(MemoryCloud::Call::modifyRecords) == requests + 1; }));
    delegate.edit(*engine, "B", "two");
    delegate.edit(*engine, "C", "three");
    ASSERT_TRUE(withinTurns(6, [&] { return cloud.record("anna", idOf("B")) && cloud.record("anna", idOf("C")); }));
    EXPECT_EQ(cloud.callCount(MemoryCloud::Call::modifyRecords), requests + 2);
    ASSERT_EVENTUALLY(!engine->isWorking() && !engine->isScheduled());
    EXPECT_TRUE(engine->state().pendingRecordZoneChanges().isEmpty());
}

// The server's word of a change that comes while a fetch is out may be about a change that the fetch's answer does
// not hold: it is fetched again rather than forgotten until the next word.
TEST_F(SyncEngineTest, WordOfAChangeWhileAFetchIsOutIsNotLost)
{
    RecordingDelegate writer;
    auto writerEngine = makeEngine(writer);
    writer.edit(*writerEngine, "A", "before");
    writerEngine->sendChanges();
    cloud.setAnswersDeferred(true);
    // Saved after the reader's fetch has read the zone, before its answer has come back.
    bool saved = false;
    cloud.setFaultInjector([&](MemoryCloud::Call call) {
        if (call == MemoryCloud::Call::fetchZoneChanges && !std::exchange(saved, true)) {
            QTimer::singleShot(0, &cloud, [&] {
                writer.edit(*writerEngine, "B", "during the fetch");
                writerEngine->sendChanges();
            });
        }
        return MemoryCloud::Fault::none;
    });
    RecordingDelegate reader;
    auto readerEngine = makeEngine(reader, true, std::nullopt, SyncEngine::Timing{});
    ASSERT_EVENTUALLY(reader.records.contains(idOf("B")));
    EXPECT_TRUE(reader.records.contains(idOf("A")));
    cloud.setFaultInjector({});

    // The same word while a fetch is out that has found nothing new: the change is fetched once that fetch is done.
    ASSERT_EVENTUALLY(!readerEngine->isWorking() && !readerEngine->isScheduled());
    readerEngine->fetchChanges();
    writer.edit(*writerEngine, "C", "while the reader asked");
    writerEngine->sendChanges();
    ASSERT_EVENTUALLY(reader.records.contains(idOf("C")));
}

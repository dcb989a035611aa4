#include "Vellora/DayData/DayStore.h"

#include "Vellora/DayData/StoreFile.h"
#include "Vellora/Files/AtomicFile.h"

#include <algorithm>

DayStore::DayStore(Options options, QObject *parent)
    : QObject(parent)
    , m_filePath(std::move(options.filePath))
    , m_calendar(std::move(options.calendar))
    , m_clock(std::move(options.clock))
{
    m_readOnly = options.readOnly;
    m_created = options.now.value_or(now());
    m_day = dayKey(m_created, m_calendar);

    m_saveRetry.setInterval(options.saveRetryMs);
    connect(&m_saveRetry, &QTimer::timeout, this, [this] { save(); });

    if (m_filePath) {
        // Whoever opens the store holds its lock, so no other save is under way: what is left was killed.
        AtomicFile::removeLeftovers(*m_filePath);
        StoreFile::LoadResult loaded = StoreFile::load(*m_filePath);
        m_setAsidePath = loaded.setAsidePath;
        m_damage = loaded.damage;
        m_openError = loaded.error;
        if (loaded.keepOut) {
            // Not a file of ours, or an unreadable one that could not be moved away: never write over it.
            m_filePath.reset();
        } else if (loaded.saved) {
            m_saved = std::move(*loaded.saved);
        }
    }

    if (options.openDay)
        openDay();
}

void DayStore::openDay()
{
    refreshDay(m_created);
    // A file written by hand, or by a version that let a block run over, shows every item all the same.
    m_overflowAtOpen = settleOverflow();
}

DayStore::~DayStore() = default;

QDateTime DayStore::now() const
{
    return m_clock ? m_clock() : QDateTime::currentDateTimeUtc();
}

QDateTime DayStore::stamp(const std::optional<QDateTime> &after)
{
    // Two changes within one millisecond, or across a clock set back, still come in the order they were made.
    QDateTime time = now().toUTC();
    for (const QDateTime &floor : {m_lastStamp, after.value_or(QDateTime())}) {
        if (floor.isValid() && time <= floor)
            time = floor.addMSecs(1);
    }
    m_lastStamp = time;
    return time;
}

void DayStore::setDay(const QString &day)
{
    // The day last shown, not the latest: a clock once set years ahead must not hold off every new day till then.
    if (m_saved.shownDay != day) {
        m_saved.shownDay = day;
        m_unsaved = true;
    }
    if (day == m_day)
        return;
    m_day = day;
    emit dayChanged(m_day);
}

QList<DayItem> DayStore::sortedItems(const std::function<bool(const DayItem &)> &keep) const
{
    QList<DayItem> result;
    for (const auto &[id, item] : m_saved.items) {
        if (keep(item))
            result.append(item);
    }
    std::sort(result.begin(), result.end(), DayItem::inOrder);
    return result;
}

bool DayStore::isOnToday(const DayItem &item) const
{
    // A new day clears every item that is not waiting, so one of another day came from another computer (one
    // further east or west, or with a wrong clock) or was written before this one's clock went back. It stays in
    // sight on Today until this computer's own next day rather than on no page at all, and is not rewritten, so
    // other computers see no change.
    return !item.isInBacklog();
}

QList<DayItem> DayStore::itemsIn(Block block) const
{
    return sortedItems([&](const DayItem &item) { return item.block == block && isOnToday(item); });
}

QList<DayItem> DayStore::backlogItems() const
{
    return sortedItems([](const DayItem &item) { return item.day == kOpenDay; });
}

std::optional<DayItem> DayStore::item(const QString &id) const
{
    const auto found = m_saved.items.find(id);
    if (found == m_saved.items.end())
        return std::nullopt;
    return found->second;
}

void DayStore::commit(const QList<std::pair<QString, std::optional<DayItem>>> &changes)
{
    for (const auto &[id, item] : changes) {
        const auto before = this->item(id);
        if (item) {
            DayItem changed = *item;
            changed.markChangedParts(before);
            m_saved.items.insert_or_assign(id, std::move(changed));
            m_saved.deletions.erase(id);
        } else {
            m_saved.items.erase(id);
            if (m_filePath && before)
                m_saved.deletions.insert_or_assign(id, Deletion{stamp(), before->systemFields});
        }
    }
    m_unsaved = true;
    emit savedChanged();
    QStringList ids;
    for (const auto &change : changes)
        ids.append(change.first);
    emit itemsChanged(ids);
    save();
}

std::optional<DayItem> DayStore::addItem(const QString &title, Block block)
{
    const QString trimmed = title.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    const bool fits = itemsIn(block).size() < capacity(block);
    DayItem item{newItemId(), trimmed, false, block, fits ? m_day : kOpenDay, stamp(), std::nullopt};
    commit(item.id, item);
    return item;
}

void DayStore::updateTitle(const QString &id, const QString &text)
{
    const QString trimmed = text.trimmed();
    auto item = this->item(id);
    if (!item)
        return;
    if (trimmed.isEmpty()) {
        deleteItem(id);
        return;
    }
    item->title = trimmed;
    item->modifiedAt = stamp();
    item->changedAt.reset();
    commit(id, item);
}

void DayStore::deleteItem(const QString &id)
{
    // Queued even when there is no such item: another device may still hold its record.
    commit(id, std::nullopt);
}

void DayStore::toggleDone(const QString &id)
{
    auto item = this->item(id);
    if (!item)
        return;
    item->done = !item->done;
    item->modifiedAt = stamp();
    item->changedAt.reset();
    commit(id, item);
}

void DayStore::startNewDay(const QDateTime &now)
{
    // Unfinished tasks go to the Backlog after its older items, in the order they stood on the sheet: big, then
    // medium, then small, each top to bottom. Done tasks are dropped. All of it is one change and one write.
    // Only this computer's days are cleared: the day it showed (also when started again by hand on that date) and
    // any before the new one. A task another computer wrote for the new day or a later one (a time zone further
    // east, a clock ahead) stays where it stands and shows on Today. No place on earth is more than two days ahead:
    // a day further on was written by a wrong clock or in another calendar, and is cleared like an earlier one.
    const QString today = dayKey(now, m_calendar);
    const QString shown = m_saved.shownDay.value_or(m_day);
    const QString latestElsewhere =
        QDate::fromString(today, QStringLiteral("yyyy-MM-dd")).addDays(2).toString(QStringLiteral("yyyy-MM-dd"));
    const auto ofAnEarlierDay = [&](const DayItem &item) {
        return item.day <= shown || item.day < today || item.day > latestElsewhere;
    };
    QList<DayItem> moved;
    QList<std::pair<QString, std::optional<DayItem>>> changes;
    auto leave = [&](const DayItem &item) {
        if (item.done)
            changes.append({item.id, std::nullopt});
        else
            moved.append(item);
    };
    for (Block block : kAllBlocks) {
        for (const DayItem &item : itemsIn(block)) {
            if (ofAnEarlierDay(item))
                leave(item);
        }
    }
    // No earlier than the time the day starts, and after every waiting item, even one stamped ahead of this clock.
    QDateTime latestWaiting = now.toUTC().addMSecs(-1);
    for (const DayItem &item : backlogItems())
        latestWaiting = std::max(latestWaiting, item.modifiedAt);
    for (DayItem item : moved) {
        item.day = kOpenDay;
        item.done = false;
        item.modifiedAt = stamp(latestWaiting);
        item.changedAt.reset();
        changes.append({item.id, std::move(item)});
    }
    setDay(today);
    if (changes.isEmpty()) {
        m_unsaved = true; // a new day asked for writes the file, also when it moved nothing
        save();
    } else {
        commit(changes);
    }
}

void DayStore::refreshDay(const QDateTime &now)
{
    const QString today = dayKey(now, m_calendar);
    // This computer's own date decides: an item another computer wrote on an earlier day shows on Today instead.
    // A file that does not say which day it showed last is judged by its items, as before it said so.
    const bool dateMovedOn = m_saved.shownDay
        ? today > *m_saved.shownDay
        : std::any_of(m_saved.items.begin(), m_saved.items.end(), [&](const auto &entry) {
              const QString &day = entry.second.day;
              return day != kOpenDay && day < today;
          });
    if (dateMovedOn) {
        startNewDay(now);
        return;
    }
    // A day shown before that is later than today (a clock that ran ahead, a key of the locale's calendar written
    // by an earlier version) is written over at once: kept, it would hold off every new day until that date.
    const bool shownLater = m_saved.shownDay && *m_saved.shownDay > today;
    setDay(today);
    if (shownLater)
        save();
}

bool DayStore::save()
{
    if (!m_filePath || m_readOnly || (!m_unsaved && !m_saveError))
        return true;
    const std::optional<QString> error = StoreFile::save(*m_filePath, m_saved);
    if (!error)
        m_unsaved = false;
    if (error && m_saveRetry.interval() > 0)
        m_saveRetry.start();
    else if (!error)
        m_saveRetry.stop();
    setSaveError(error);
    return !error;
}

void DayStore::setSaveError(const std::optional<QString> &error)
{
    if (error == m_saveError)
        return;
    m_saveError = error;
    emit saveErrorChanged();
}

void DayStore::restoreItems(const QList<DayItem> &items)
{
    QList<std::pair<QString, std::optional<DayItem>>> changes;
    for (DayItem item : items) {
        if (item.modifiedAt.isValid()) {
            item.changedAt = laterChange(stamp(), item.modifiedAt);
        } else {
            item.modifiedAt = stamp();
            item.changedAt.reset();
        }
        changes.append({item.id, std::move(item)});
    }
    if (!changes.isEmpty())
        commit(changes);
}

QList<DayItem> DayStore::addItems(const QStringList &titles, Block block)
{
    QStringList kept;
    for (const QString &title : titles) {
        if (!title.trimmed().isEmpty())
            kept.append(title.trimmed());
    }
    // After whatever the block and the Backlog hold, so that the new items come last in both, in the given order.
    const QList<DayItem> inBlock = itemsIn(block);
    const QList<DayItem> backlog = backlogItems();
    std::optional<QDateTime> latest;
    for (const QList<DayItem> *list : {&inBlock, &backlog}) {
        if (!list->isEmpty() && (!latest || list->last().modifiedAt > *latest))
            latest = list->last().modifiedAt;
    }
    qsizetype free = std::max<qsizetype>(0, capacity(block) - inBlock.size());
    QList<DayItem> added;
    QList<std::pair<QString, std::optional<DayItem>>> changes;
    for (qsizetype i = 0; i < kept.size(); ++i) {
        const bool fits = free-- > 0;
        added.append(DayItem{newItemId(), kept[i], false, block, fits ? m_day : kOpenDay, stamp(latest), std::nullopt});
        changes.append({added.last().id, added.last()});
    }
    if (!changes.isEmpty())
        commit(changes);
    return added;
}

bool DayStore::moveItem(const QString &id, Block block)
{
    auto item = this->item(id);
    if (!item)
        return false;
    if (item->block == block && isOnToday(*item))
        return true;
    if (itemsIn(block).size() >= capacity(block))
        return false;
    item->block = block;
    item->day = m_day;
    item->modifiedAt = stamp();
    item->changedAt.reset();
    commit(id, item);
    return true;
}

void DayStore::placeItem(const QString &id, const std::optional<QString> &targetId, Block block)
{
    auto moved = item(id);
    if (!moved)
        return;
    auto target = targetId ? item(*targetId) : std::nullopt;
    if (!target || target->id == id) {
        moveItem(id, block);
        return;
    }
    // A swap: the two items exchange blocks and rows (their change times), and keep everything else.
    std::swap(moved->block, target->block);
    std::swap(moved->modifiedAt, target->modifiedAt);
    moved->day = m_day;
    target->day = m_day;
    // An older place, but a newer change: it must win over the copies other computers hold.
    moved->changedAt = laterChange(stamp(), moved->modifiedAt);
    target->changedAt = laterChange(stamp(), target->modifiedAt);
    commit({{moved->id, moved}, {target->id, target}});
}

void DayStore::stepItem(const QString &id, int offset)
{
    const auto item = this->item(id);
    if (!item || !isOnToday(*item))
        return;

    struct Row
    {
        Block block;
        std::optional<QString> itemId;
    };
    QList<Row> rows;
    for (Block block : kAllBlocks) {
        const QList<DayItem> items = itemsIn(block);
        for (int index = 0; index < capacity(block); ++index)
            rows.append({block, index < items.size() ? std::optional(items[index].id) : std::nullopt});
    }

    const auto current = std::find_if(rows.begin(), rows.end(), [&](const Row &row) { return row.itemId == id; });
    if (current == rows.end())
        return; // a surplus item beyond its block's rows
    const qsizetype next = (current - rows.begin()) + offset;
    if (next < 0 || next >= rows.size())
        return;
    placeItem(id, rows[next].itemId, rows[next].block);
}

QList<DayItem> DayStore::settleOverflow()
{
    QList<DayItem> over;
    for (Block block : kAllBlocks)
        over.append(itemsIn(block).mid(capacity(block)));
    if (over.isEmpty())
        return {};
    // Before the first waiting item, in the order they stood. A change of now all the same: other computers must
    // take the new place over the old one, whatever the times that order the Backlog.
    const QList<DayItem> waiting = backlogItems();
    const QDateTime top = waiting.isEmpty() ? now().toUTC() : waiting.first().modifiedAt;
    QList<std::pair<QString, std::optional<DayItem>>> changes;
    for (qsizetype index = 0; index < over.size(); ++index) {
        DayItem &item = over[index];
        item.day = kOpenDay;
        item.modifiedAt = top.addMSecs(index - over.size());
        item.changedAt = laterChange(stamp(), item.modifiedAt);
        changes.append({item.id, item});
    }
    commit(changes);
    emit overflowSettled(over);
    return over;
}

void DayStore::sendToBacklog(const QString &id)
{
    auto item = this->item(id);
    if (!item)
        return;
    item->day = kOpenDay;
    item->done = false;
    item->modifiedAt = stamp();
    item->changedAt.reset();
    commit(id, item);
}

bool DayStore::bringToToday(const QString &id)
{
    auto item = this->item(id);
    if (!item || !item->isInBacklog())
        return false;
    if (itemsIn(item->block).size() >= capacity(item->block))
        return false;
    item->day = m_day;
    item->modifiedAt = stamp();
    item->changedAt.reset();
    commit(id, item);
    return true;
}

std::optional<DayStore::Deletion> DayStore::deletion(const QString &id) const
{
    const auto found = m_saved.deletions.find(id);
    if (found == m_saved.deletions.end())
        return std::nullopt;
    return found->second;
}

void DayStore::setDeletion(const QString &id, const std::optional<Deletion> &deletion)
{
    if (deletion)
        m_saved.deletions.insert_or_assign(id, *deletion);
    else if (m_saved.deletions.erase(id) == 0)
        return;
    m_unsaved = true;
    emit savedChanged();
}

void DayStore::applyItem(const QString &id, const std::optional<DayItem> &item)
{
    if (item)
        m_saved.items.insert_or_assign(id, *item);
    else
        m_saved.items.erase(id);
    m_unsaved = true;
    emit savedChanged();
}

void DayStore::removeAllItems()
{
    m_saved.items.clear();
    m_saved.deletions.clear();
    m_unsaved = true;
    emit savedChanged();
}

void DayStore::setSyncState(const QJsonObject &state)
{
    m_saved.state = state;
    m_unsaved = true;
}

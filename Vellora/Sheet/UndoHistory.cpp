#include "Vellora/Sheet/UndoHistory.h"

#include "Vellora/DayData/DayStore.h"

#include <algorithm>

namespace {

constexpr qsizetype kNoteTitleLength = 40;

QString quoted(const QString &title)
{
    const QString shown = title.size() > kNoteTitleLength ? title.left(kNoteTitleLength - 1) + QChar(0x2026) : title;
    return QStringLiteral("\u201C%1\u201D").arg(shown);
}

QString tasks(qsizetype count)
{
    return count == 1 ? QStringLiteral("1 task") : QStringLiteral("%1 tasks").arg(count);
}

// What the person sees of an item; the sync state in its record is not theirs.
bool sameForUser(const std::optional<DayItem> &a, const std::optional<DayItem> &b)
{
    if (!a || !b)
        return !a && !b;
    return a->title == b->title && a->done == b->done && a->block == b->block && a->day == b->day &&
           a->modifiedAt == b->modifiedAt;
}

QString someTitle(const std::map<QString, std::optional<DayItem>> &a,
                  const std::map<QString, std::optional<DayItem>> &b)
{
    for (const auto *items : {&a, &b}) {
        for (const auto &[id, item] : *items) {
            if (item)
                return item->title;
        }
    }
    return QString();
}

// "“A”, “B”, “C” and 2 more"
QString someTitles(const QStringList &titles)
{
    constexpr qsizetype kShown = 3;
    QStringList shown;
    for (qsizetype i = 0; i < titles.size() && i < kShown; ++i)
        shown.append(quoted(titles[i]));
    QString text = shown.join(QStringLiteral(", "));
    if (titles.size() > kShown)
        text += QStringLiteral(" and %1 more").arg(titles.size() - kShown);
    return text;
}

} // namespace

UndoHistory::UndoHistory(DayStore &store, QObject *parent) : QObject(parent), m_store(store) {}

void UndoHistory::record(Kind kind, const std::function<void()> &operation)
{
    if (m_recording) {
        operation();
        return;
    }
    m_recording = true;
    const std::map<QString, DayItem> before = m_store.saved().items; // shares every title with the store
    operation();
    m_recording = false;

    // Both maps are sorted by id: one walk finds every item that came, went or changed.
    Step step{kind, {}, {}};
    const std::map<QString, DayItem> &after = m_store.saved().items;
    auto old = before.begin();
    auto now = after.begin();
    while (old != before.end() || now != after.end()) {
        if (now == after.end() || (old != before.end() && old->first < now->first)) {
            step.before.emplace(old->first, old->second);
            step.after.emplace(old->first, std::nullopt);
            ++old;
        } else if (old == before.end() || now->first < old->first) {
            step.before.emplace(now->first, std::nullopt);
            step.after.emplace(now->first, now->second);
            ++now;
        } else {
            if (!sameForUser(old->second, now->second)) {
                step.before.emplace(old->first, old->second);
                step.after.emplace(now->first, now->second);
            }
            ++old;
            ++now;
        }
    }
    if (step.before.empty())
        return;
    m_redo.clear();
    m_undo.push_back(std::move(step));
    if (m_undo.size() > size_t(kMaxSteps)) {
        // The done tasks a new day dropped live nowhere else: its step stays for as long as the window runs.
        const auto oldest =
            std::find_if(m_undo.begin(), m_undo.end(), [](const Step &kept) { return kept.kind != Kind::newDay; });
        m_undo.erase(oldest == m_undo.end() ? m_undo.begin() : oldest);
    }
    noteDone(m_undo.back());
    emit availabilityChanged();
}

void UndoHistory::noteDone(const Step &step)
{
    if (step.kind == Kind::remove) {
        emit noted(QStringLiteral("Deleted %1").arg(quoted(someTitle(step.before, {}))), true);
    } else if (step.kind == Kind::toBacklog) {
        emit noted(QStringLiteral("Moved %1 to the Backlog").arg(quoted(someTitle(step.before, {}))), true);
    } else if (step.kind == Kind::newDay) {
        const auto moved = std::count_if(step.after.begin(), step.after.end(),
                                         [](const auto &entry) { return entry.second && entry.second->isInBacklog(); });
        emit noted(QStringLiteral("Started a new day: %1 moved to the Backlog").arg(tasks(moved)), true);
    }
}

QString UndoHistory::undoName() const
{
    if (m_undo.empty())
        return QStringLiteral("Undo");
    const Step &step = m_undo.back();
    if (step.kind == Kind::newDay)
        return QStringLiteral("Undo the new day");
    // By Kind, in the order of its values.
    static const char *const kNames[] = {"Undo add of %1",       "Undo edit of %1", "Undo tick of %1",
                                         "Undo delete of %1",    "Undo move of %1", "Undo move of %1 to the Backlog",
                                         "Undo bringing back %1"};
    return QString::fromLatin1(kNames[size_t(step.kind)]).arg(quoted(someTitle(step.before, step.after)));
}

void UndoHistory::undo()
{
    move(m_undo, m_redo, true);
}

void UndoHistory::redo()
{
    move(m_redo, m_undo, false);
}

void UndoHistory::move(std::vector<Step> &from, std::vector<Step> &to, bool undoing)
{
    if (from.empty())
        return;
    Step step = std::move(from.back());
    from.pop_back();
    Items &now = undoing ? step.after : step.before;
    Items &wanted = undoing ? step.before : step.after;
    // A new day touches every task of the sheet; one of them changed elsewhere since (brought back from the command
    // line, edited on another computer) keeps that change, and the others still go back.
    const QStringList kept = step.kind == Kind::newDay ? dropChanged(step, undoing) : QStringList();
    if (!standsAs(now)) {
        // Someone else changed these items since: their change stands, and this step can no longer be made.
        emit noted(
            QStringLiteral("Not %1: %2 was changed elsewhere")
                .arg(undoing ? QStringLiteral("undone") : QStringLiteral("redone"), quoted(someTitle(now, wanted))),
            false);
        emit availabilityChanged();
        return;
    }
    m_recording = true;
    const Items reached = bringTo(now, wanted);
    m_recording = false;
    for (const auto &[id, item] : reached) {
        const auto &asked = wanted[id];
        if (item && asked && item->isInBacklog() && !asked->isInBacklog()) {
            emit noted(QStringLiteral("%1 went to the Backlog: its block is full").arg(quoted(item->title)), false);
            break;
        }
    }
    if (!kept.isEmpty()) {
        emit noted(
            QStringLiteral("%1; kept as changed elsewhere: %2")
                .arg(undoing ? QStringLiteral("New day undone") : QStringLiteral("New day redone"), someTitles(kept)),
            false);
    }
    // The other direction starts from what the items are now, with their new change times.
    wanted = reached;
    to.push_back(std::move(step));
    emit availabilityChanged();
}

QStringList UndoHistory::dropChanged(Step &step, bool undoing)
{
    const Items &now = undoing ? step.after : step.before;
    QStringList titles;
    QStringList ids;
    for (const auto &[id, item] : now) {
        const auto current = m_store.item(id);
        if (!sameForUser(current, item)) {
            titles.append(current ? current->title : item->title); // gone now: it stood as given
            ids.append(id);
        }
    }
    // Not one left: nothing to go back to, and the step is refused as a whole.
    if (ids.size() == qsizetype(now.size()))
        return {};
    for (const QString &id : ids) {
        step.before.erase(id);
        step.after.erase(id);
    }
    return titles;
}

bool UndoHistory::standsAs(const Items &items) const
{
    return std::all_of(items.begin(), items.end(),
                       [this](const auto &entry) { return sameForUser(m_store.item(entry.first), entry.second); });
}

UndoHistory::Items UndoHistory::current(const Items &ids) const
{
    Items result;
    for (const auto &entry : ids)
        result.emplace(entry.first, m_store.item(entry.first));
    return result;
}

UndoHistory::Items UndoHistory::bringTo(const Items &from, const Items &to)
{
    // A swap of two rows is undone by the same swap, which also gives both their rows back exactly.
    if (from.size() == 2) {
        const auto &[a, b] = std::pair{from.begin(), std::next(from.begin())};
        const auto &wantA = to.at(a->first);
        const auto &wantB = to.at(b->first);
        // Change times alone can meet by chance (another computer's): a swap also trades the blocks and keeps both
        // items on the sheet.
        if (a->second && b->second && wantA && wantB && wantA->modifiedAt == b->second->modifiedAt &&
            wantB->modifiedAt == a->second->modifiedAt && wantA->block == b->second->block &&
            wantB->block == a->second->block && !wantA->isInBacklog() && !wantB->isInBacklog()) {
            m_store.placeItem(a->first, b->first, b->second->block);
            return current(from);
        }
    }

    for (const auto &[id, item] : to) {
        if (!item && m_store.item(id))
            m_store.deleteItem(id);
    }
    QList<DayItem> back;
    for (const auto &[id, item] : to) {
        if (item)
            back.append(*item);
    }
    // In their old order, which decides who gets a block's last free rows.
    std::sort(back.begin(), back.end(), DayItem::inOrder);
    std::map<Block, qsizetype> used;
    for (Block block : kAllBlocks) {
        for (const DayItem &item : m_store.itemsIn(block))
            used[block] += to.count(item.id) ? 0 : 1;
    }
    QList<DayItem> restored;
    for (const DayItem &wanted : back) {
        // The record's sync state is the current one; only what the person sees goes back.
        DayItem item = m_store.item(wanted.id).value_or(wanted);
        item.title = wanted.title;
        item.done = wanted.done;
        item.block = wanted.block;
        item.day = wanted.day;
        // Its own time puts it back in the row it left.
        item.modifiedAt = wanted.modifiedAt;
        if (!wanted.isInBacklog()) {
            // Back on the sheet of today, unless its block has filled up meanwhile: then at the Backlog's end.
            const bool fits = used[wanted.block] < capacity(wanted.block);
            item.day = fits ? m_store.day() : kOpenDay;
            if (fits)
                ++used[wanted.block];
            else
                item.modifiedAt = QDateTime();
        }
        restored.append(item);
    }
    m_store.restoreItems(restored);
    return current(from);
}

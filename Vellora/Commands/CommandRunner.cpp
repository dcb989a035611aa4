#include "Vellora/Commands/CommandRunner.h"

#include "Vellora/DayData/DayStore.h"
#include "Vellora/DayData/SheetText.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {

const QString kTick = QStringLiteral("\u2713");

QString jsonText(const QJsonObject &object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Indented));
}

CommandOutcome failure(const QString &message)
{
    return {1, {}, message};
}

QJsonObject itemJson(const DayItem &item, int row)
{
    return {
        {"id", item.id}, {"title", item.title}, {"done", item.done}, {"bucket", blockName(item.block)}, {"row", row}};
}

bool hasRoom(const DayStore &store, Block block)
{
    return store.itemsIn(block).size() < capacity(block);
}

// Today's row of an item, or none when it is not on a row of the sheet.
std::optional<int> rowOf(const DayStore &store, const DayItem &item)
{
    if (!store.isOnToday(item))
        return std::nullopt;
    const auto row = store.itemsIn(item.block).indexOf(item);
    if (row < 0 || row >= capacity(item.block))
        return std::nullopt;
    return int(row);
}

CommandOutcome today(DayStore &store, bool json)
{
    const QString date = dateLine(QDateTime::currentDateTime());
    const qsizetype count = store.saved().items.size();
    if (json) {
        QJsonArray items;
        for (Block block : kAllBlocks) {
            const QList<DayItem> rows = store.itemsIn(block);
            for (int row = 0; row < std::min<int>(rows.size(), capacity(block)); ++row) {
                QJsonObject object = itemJson(rows[row], row);
                object.insert("slot", slotId(block, row));
                items.append(object);
            }
        }
        return {0, jsonText({{"date", date}, {"day", store.day()}, {"itemCount", count}, {"items", items}}), {}};
    }
    QString out = date + '\n' + itemCountText(count) + '\n';
    for (Block block : kAllBlocks) {
        out += '\n' + blockHeading(block) + '\n';
        const QList<DayItem> rows = store.itemsIn(block);
        for (int row = 0; row < capacity(block); ++row) {
            const QString number = slotId(block, row).mid(5);
            if (row < rows.size())
                out += QStringLiteral("  %1  %2%3\n").arg(number, rows[row].title, rows[row].done ? ' ' + kTick : "");
            else
                out += QStringLiteral("  %1  %2\n").arg(number, blockPlaceholder(block));
        }
    }
    return {0, out, {}};
}

CommandOutcome backlog(DayStore &store, bool json)
{
    const QList<DayItem> items = store.backlogItems();
    if (json) {
        QJsonArray array;
        for (int row = 0; row < items.size(); ++row) {
            QJsonObject object = itemJson(items[row], row);
            object.insert("hasRoom", hasRoom(store, items[row].block));
            array.append(object);
        }
        return {0, jsonText({{"itemCount", items.size()}, {"items", array}}), {}};
    }
    QString out = itemCountText(items.size()) + '\n';
    for (const DayItem &item : items) {
        const QString full = hasRoom(store, item.block) ? QString() : QStringLiteral(", block full");
        out += QStringLiteral("  %1  %2  (%3%4)\n").arg(item.id.left(8), item.title, blockName(item.block), full);
    }
    return {0, out, {}};
}

// The item an ITEM argument names: an id, a unique id prefix of 4 or more characters, or a row of Today.
std::variant<DayItem, QString> resolveItem(const DayStore &store, const QString &reference)
{
    if (const auto slot = parseSlotId(reference)) {
        const auto [block, row] = *slot;
        if (row >= capacity(block))
            return QStringLiteral("there is no row %1").arg(reference);
        const QList<DayItem> rows = store.itemsIn(block);
        if (row >= rows.size())
            return QStringLiteral("row %1 is empty").arg(slotId(block, row));
        return rows[row];
    }
    // An id never holds a dot: this names a row, one that the sheet does not have.
    if (reference.contains(QLatin1Char('.')))
        return QStringLiteral("there is no row %1 (the rows are 1.0, 3.0 to 3.2 and 5.0 to 5.4)").arg(reference);
    const QString wanted = reference.toUpper();
    if (const auto exact = store.item(wanted))
        return *exact;
    if (wanted.size() < 4)
        return QStringLiteral("'%1' is too short to name an item (give at least 4 characters of its id)")
            .arg(reference);
    QList<DayItem> matches;
    for (auto it = store.saved().items.lower_bound(wanted); it != store.saved().items.end(); ++it) {
        if (!it->first.startsWith(wanted))
            break;
        matches.append(it->second);
    }
    if (matches.isEmpty())
        return QStringLiteral("no item matches '%1'").arg(reference);
    if (matches.size() > 1)
        return QStringLiteral("'%1' matches %2 items; give more of the id").arg(reference).arg(matches.size());
    return matches.first();
}

QString placeText(const DayStore &store, const DayItem &item)
{
    if (item.isInBacklog())
        return QStringLiteral("the Backlog");
    if (const auto row = rowOf(store, item))
        return slotId(item.block, *row);
    return QStringLiteral("another day");
}

CommandOutcome add(DayStore &store, const Command &command)
{
    Block block = Block::small;
    if (command.block) {
        block = *command.block;
    } else {
        const auto free =
            std::find_if(kAllBlocks.begin(), kAllBlocks.end(), [&](Block b) { return hasRoom(store, b); });
        if (free != kAllBlocks.end())
            block = *free;
    }
    const auto item = store.addItem(command.text, block);
    if (!item)
        return failure(QStringLiteral("the text is empty"));
    if (command.json)
        return {0, jsonText(itemJson(*item, rowOf(store, *item).value_or(-1))), {}};
    return {
        0, QStringLiteral("Added to %1: %2 (%3)\n").arg(placeText(store, *item), item->title, item->id.left(8)), {}};
}

CommandOutcome step(DayStore &store, const DayItem &item, int offset)
{
    if (!rowOf(store, item))
        return failure(QStringLiteral("'%1' is not on a row of Today").arg(item.title));
    const QString before = placeText(store, item);
    store.stepItem(item.id, offset);
    const QString after = placeText(store, *store.item(item.id));
    if (before == after)
        return failure(QStringLiteral("'%1' cannot move further %2").arg(item.title, offset < 0 ? "up" : "down"));
    return {0, QStringLiteral("Moved to %1: %2\n").arg(after, item.title), {}};
}

CommandOutcome bring(DayStore &store, const DayItem &item)
{
    if (!item.isInBacklog())
        return failure(QStringLiteral("'%1' is not in the Backlog").arg(item.title));
    if (!store.bringToToday(item.id))
        return failure(QStringLiteral("the %1 block on Today is full").arg(blockHeading(item.block)));
    return {0, QStringLiteral("Brought to %1: %2\n").arg(placeText(store, *store.item(item.id)), item.title), {}};
}

CommandOutcome runItemCommand(const Command &command, DayStore &store, const DayItem &item)
{
    switch (command.verb) {
    case Command::Verb::edit:
        store.updateTitle(item.id, command.text);
        return {0, QStringLiteral("Changed: %1\n").arg(command.text), {}};
    case Command::Verb::done:
        store.toggleDone(item.id);
        return {0, QStringLiteral("%1: %2\n").arg(item.done ? "Not done" : "Done", item.title), {}};
    case Command::Verb::remove:
        store.deleteItem(item.id);
        return {0, QStringLiteral("Deleted: %1\n").arg(item.title), {}};
    case Command::Verb::up:
        return step(store, item, -1);
    case Command::Verb::down:
        return step(store, item, +1);
    case Command::Verb::bring:
        return bring(store, item);
    default:
        return failure(QStringLiteral("not an item command"));
    }
}

} // namespace

CommandOutcome runCommand(const Command &command, DayStore &store)
{
    switch (command.verb) {
    case Command::Verb::today:
        return today(store, command.json);
    case Command::Verb::backlog:
        return backlog(store, command.json);
    case Command::Verb::add:
        return add(store, command);
    case Command::Verb::newDay:
        store.startNewDay(QDateTime::currentDateTimeUtc());
        return {0,
                QStringLiteral("Started a new day: %1\n")
                    .arg(itemCountText(store.backlogItems().size()) + QStringLiteral(" in the Backlog")),
                {}};
    default:
        break;
    }
    const auto resolved = resolveItem(store, command.item);
    if (const auto *error = std::get_if<QString>(&resolved))
        return failure(*error);
    return runItemCommand(command, store, std::get<DayItem>(resolved));
}

QJsonObject CommandOutcome::toJson() const
{
    return {{"exitCode", exitCode}, {"out", out}, {"err", err}};
}

CommandOutcome CommandOutcome::fromJson(const QJsonObject &object)
{
    return {object.value("exitCode").toInt(1), object.value("out").toString(), object.value("err").toString()};
}

QJsonObject runCommandRequest(const QJsonObject &command, DayStore &store)
{
    const auto parsed = commandFromJson(command);
    if (const auto *error = std::get_if<CommandError>(&parsed))
        return CommandOutcome{ExitStatus::usage, {}, error->message}.toJson();
    const Command &request = std::get<Command>(parsed);
    CommandOutcome outcome = runCommand(request, store);
    if (const auto error = store.saveError(); error && outcome.exitCode == 0) {
        // The app holds the planner in memory and saves it at its next try: a reading command shows it as it is
        // and says that it is not on disk yet; a change is made and kept, and says so with a status of its own.
        if (request.isEdit()) {
            outcome.exitCode = ExitStatus::notSaved;
            outcome.err = QStringLiteral("Vellora keeps the change but could not save it yet (%1); it tries again")
                              .arg(*error);
        } else {
            outcome.err =
                QStringLiteral("not saved yet: Vellora keeps the latest changes but could not save them (%1); it "
                               "tries again")
                    .arg(*error);
        }
    }
    return outcome.toJson();
}

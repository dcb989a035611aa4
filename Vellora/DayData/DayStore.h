#pragma once

#include "Vellora/DayData/Calendar.h"
#include "Vellora/DayData/DayItem.h"
#include "Vellora/DayData/StoreDamage.h"

#include <QJsonObject>
#include <QObject>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>
#include <optional>

// Owns every item: Today's, the Backlog's and those of other days. Every change goes through one of its
// operations, and every operation ends the same way: store the items, tell which changed, write the file.
class DayStore : public QObject
{
    Q_OBJECT

public:
    // An item deleted here whose delete has not reached the server yet: when, and the server's copy it was last
    // seen as, so that the delete goes against that copy and loses to a later change made on another computer.
    struct Deletion
    {
        QDateTime deletedAt;
        std::optional<QByteArray> systemFields;

        bool operator==(const Deletion &) const = default;
    };

    // Everything that is persisted; its coded form is the store file.
    struct Saved
    {
        std::map<QString, DayItem> items;
        std::map<QString, Deletion> deletions;
        // The sync engine's state as sync hands it over, written with the items so that the file holds both at once.
        std::optional<QJsonObject> state;
        // The day this computer showed as Today last: its own date, never a synced item's, decides when a new day
        // starts. Kept in this computer's file alone; none in a file written before it was kept.
        std::optional<QString> shownDay = {};

        bool operator==(const Saved &) const = default;
    };

    using Clock = std::function<QDateTime()>;

    struct Options
    {
        // None: memory only. A store with a file keeps its deletes for sync (see Deletion).
        std::optional<QString> filePath;
        Calendar calendar = Calendar::current();
        Clock clock;                  // the current time; the system clock when empty
        std::optional<QDateTime> now; // the creation time; the clock's when absent
        // Off: the creation shows no day yet; openDay() does, once whoever must hear its changes listens.
        bool openDay = true;
        int saveRetryMs = 5000;               // how often a failed save is tried again while nothing else changes
        // Shows the file as a launch would (a later day starts its new day) without writing it: for commands that
        // only read. A damaged or unreadable file is still set aside.
        bool readOnly = false;
    };

    explicit DayStore(Options options, QObject *parent = nullptr);
    ~DayStore() override;

    QString day() const { return m_day; }
    const Saved &saved() const { return m_saved; }
    std::optional<QString> filePath() const { return m_filePath; }
    const Calendar &calendar() const { return m_calendar; }
    // Where an unreadable store file was moved at creation, or a damaged one copied, or empty.
    QString setAsidePath() const { return m_setAsidePath; }
    // What of the file had to be left out or mended at creation; the file as it was is at setAsidePath().
    StoreDamage damage() const { return m_damage; }
    // Why the store file was refused at creation (not a regular file, not readable), or empty. The store then works
    // in memory alone.
    QString openError() const { return m_openError; }
    // Why the last save failed ("disk full"), or none once the file holds every change. While it is set, the
    // changes live in memory alone: the next change and a timer try again.
    std::optional<QString> saveError() const { return m_saveError; }
    bool isOnToday(const DayItem &item) const;

    // Today's items of a block, oldest change first; may hold more than the block's rows.
    QList<DayItem> itemsIn(Block block) const;
    // The Backlog, oldest change first.
    QList<DayItem> backlogItems() const;
    std::optional<DayItem> item(const QString &id) const;

    // Editing.
    std::optional<DayItem> addItem(const QString &title, Block block);
    // Adds several items in one change, in the order given, after every item of the block and the Backlog: as many
    // as the block has free rows on Today, the rest in the Backlog. Empty titles are skipped.
    QList<DayItem> addItems(const QStringList &titles, Block block);
    void updateTitle(const QString &id, const QString &text);
    void deleteItem(const QString &id);
    void toggleDone(const QString &id);
    void startNewDay(const QDateTime &now);
    // Shows the day as a launch does: a later date starts its new day, and a block that runs over settles.
    void openDay();
    void refreshDay(const QDateTime &now);
    // Writes the file when it lacks a change, or the last write failed; false when it could not (saveError() says
    // why).
    bool save();
    // Puts items back as they are given, in one change: how Undo brings back what was deleted or moved. Each keeps
    // its modifiedAt and with it its old row; one without a valid modifiedAt comes after all others, as a new
    // change does. The restore is a change of now all the same (changedAt), so it wins over what it undoes on
    // other computers.
    void restoreItems(const QList<DayItem> &items);
    // Sends what a block holds beyond its rows (two computers each filled its last row, a file written by hand) to
    // the top of the Backlog in one change, so that every item stands on a page. The rows keep the items placed
    // first. Gives the items moved, and tells overflowSettled when there are any.
    QList<DayItem> settleOverflow();
    // What settleOverflow moved while the store was being opened, before anyone could listen.
    const QList<DayItem> &overflowAtOpen() const { return m_overflowAtOpen; }

    // Moving.
    bool moveItem(const QString &id, Block block);
    void placeItem(const QString &id, const std::optional<QString> &targetId, Block block);
    void stepItem(const QString &id, int offset);
    void sendToBacklog(const QString &id);
    bool bringToToday(const QString &id);

    // For sync: what came from elsewhere goes in as it is, told to no one as a change made here; each is written
    // with the next save.
    void applyItem(const QString &id, const std::optional<DayItem> &item);
    std::optional<Deletion> deletion(const QString &id) const;
    void setDeletion(const QString &id, const std::optional<Deletion> &deletion);
    void removeAllItems();
    void setSyncState(const QJsonObject &state);

signals:
    void dayChanged(const QString &day);
    void saveErrorChanged();
    // Items changed here (made, edited, moved, deleted), told before the change is written: what a listener gives
    // the store on hearing it (the sync state) is written with it.
    void itemsChanged(const QStringList &ids);
    // Every write to the saved items or state, also one that changes nothing.
    void savedChanged();
    // Items that did not fit their block went to the top of the Backlog.
    void overflowSettled(const QList<DayItem> &moved);

private:
    QDateTime now() const;
    // The time of a change: the clock's, but always later than any the store handed out before (and than `after`).
    QDateTime stamp(const std::optional<QDateTime> &after = std::nullopt);
    void setDay(const QString &day);
    void setSaveError(const std::optional<QString> &error);
    QList<DayItem> sortedItems(const std::function<bool(const DayItem &)> &keep) const;
    // The common end of every change: store the items, write the file once, queue their record changes.
    void commit(const QList<std::pair<QString, std::optional<DayItem>>> &changes);
    void commit(const QString &id, const std::optional<DayItem> &item) { commit({{id, item}}); }

    QString m_day;
    QDateTime m_created;
    Saved m_saved;
    bool m_unsaved = false; // m_saved holds what the file does not
    std::optional<QString> m_filePath;
    Calendar m_calendar;
    Clock m_clock;
    QDateTime m_lastStamp;
    QString m_setAsidePath;
    StoreDamage m_damage;
    bool m_readOnly = false;
    QString m_openError;
    std::optional<QString> m_saveError;
    QTimer m_saveRetry;
    QList<DayItem> m_overflowAtOpen;
};

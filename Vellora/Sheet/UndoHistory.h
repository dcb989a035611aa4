#pragma once

#include "Vellora/DayData/DayItem.h"

#include <QObject>
#include <QStringList>

#include <functional>
#include <map>
#include <optional>

class DayStore;

// The window's Undo and Redo. Every change made in the window runs through record(), which keeps the items it
// touched as they were before and after (by id). Going back or forth puts the items back with their own times, so
// each returns to the row it left; it is still a change of now, synced like any other and winning over what it
// undoes on other computers. A step whose items were changed since by someone else (the command line, another
// computer) is dropped with a note rather than applied over their change; of a new day, only the changed tasks
// are left as they are.
class UndoHistory : public QObject
{
    Q_OBJECT

public:
    enum class Kind { add, edit, tick, remove, move, toBacklog, bringBack, newDay };
    static constexpr int kMaxSteps = 100;

    explicit UndoHistory(DayStore &store, QObject *parent = nullptr);

    // Runs the operation as one step of the history. A step inside another step belongs to the outer one.
    void record(Kind kind, const std::function<void()> &operation);

    bool canUndo() const { return !m_undo.empty(); }
    bool canRedo() const { return !m_redo.empty(); }
    void undo();
    void redo();
    // What Undo would do now, in words a screen reader can say on the button ("Undo delete of “Fix bike”").
    QString undoName() const;

signals:
    void availabilityChanged();
    // What the person should be told about a change just made or undone; offersUndo: the note may offer Undo.
    void noted(const QString &text, bool offersUndo);

private:
    using Items = std::map<QString, std::optional<DayItem>>;
    struct Step
    {
        Kind kind;
        Items before;
        Items after;
    };

    // Takes out of a new day's step the tasks that were changed since it was made or undone; their titles.
    // Nothing when every task was changed: the step is then refused as a whole.
    QStringList dropChanged(Step &step, bool undoing);
    // Whether every item of the step stands now as given (what sync adds to an item's record does not count).
    bool standsAs(const Items &items) const;
    // Brings the step's items to the given state with store operations; the state they reached.
    Items bringTo(const Items &from, const Items &to);
    Items current(const Items &ids) const;
    void noteDone(const Step &step);
    void move(std::vector<Step> &from, std::vector<Step> &to, bool undoing);

    DayStore &m_store;
    std::vector<Step> m_undo;
    std::vector<Step> m_redo;
    bool m_recording = false;
};

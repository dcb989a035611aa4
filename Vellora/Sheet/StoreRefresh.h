#pragma once

#include "Vellora/Sheet/UndoHistory.h"

#include <QObject>

#include <functional>

class DayStore;
class QWidget;

// Keeps a page drawn from the store. A burst of store changes (a sync, a new day) is drawn once, after the
// burst; a page out of view is drawn when it is shown again; a change the page itself asked for is drawn at once.
class StoreRefresh : public QObject
{
public:
    StoreRefresh(DayStore &store, QWidget &page, std::function<void()> redraw);

    // Runs a store operation that the user asked for, as one step of the history for Undo when there is one, then
    // draws.
    void change(UndoHistory *history, UndoHistory::Kind kind, const std::function<void()> &operation);
    // Draws now if the store changed since the last drawing and the page is visible; whether it drew.
    bool refreshIfNeeded();
    // The page was just drawn from the store by other means.
    void markDrawn() { m_dirty = false; }
    bool isDirty() const { return m_dirty; }

private:
    void storeChanged();

    QWidget &m_page;
    std::function<void()> m_redraw;
    bool m_dirty = true;
    bool m_queued = false;
};

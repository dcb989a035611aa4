#include "Vellora/Sheet/StoreRefresh.h"

#include "Vellora/DayData/DayStore.h"

#include <QWidget>

StoreRefresh::StoreRefresh(DayStore &store, QWidget &page, std::function<void()> redraw)
    : QObject(&page), m_page(page), m_redraw(std::move(redraw))
{
    connect(&store, &DayStore::savedChanged, this, &StoreRefresh::storeChanged);
    connect(&store, &DayStore::dayChanged, this, &StoreRefresh::storeChanged);
}

void StoreRefresh::change(UndoHistory *history, UndoHistory::Kind kind, const std::function<void()> &operation)
{
    if (history)
        history->record(kind, operation);
    else
        operation();
    refreshIfNeeded();
}

bool StoreRefresh::refreshIfNeeded()
{
    if (!m_dirty || !m_page.isVisible())
        return false;
    m_redraw(); // the redraw marks the page drawn
    return true;
}

void StoreRefresh::storeChanged()
{
    m_dirty = true;
    if (m_queued)
        return;
    m_queued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_queued = false;
            refreshIfNeeded();
        },
        Qt::QueuedConnection);
}

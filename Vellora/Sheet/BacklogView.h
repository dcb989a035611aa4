#pragma once

#include "Vellora/DayData/DayStore.h"
#include "Vellora/Paper/Paper.h"
#include "Vellora/Sheet/UndoHistory.h"

#include <QWidget>

#include <functional>

class StoreRefresh;
class BacklogList;
class PaperButtonStyle;
class PaperLabel;

// The Backlog page: the title "Backlog", the count of waiting items, their list, and the way back to Today.
// An item whose block on Today is full is greyed and cannot be brought back until a row frees up.
class BacklogView : public QWidget
{
    Q_OBJECT

public:
    explicit BacklogView(DayStore &store, Paper::TextSize size = Paper::TextSize::medium, QWidget *parent = nullptr);

    Paper::TextSize textSize() const { return m_size; }
    void setTextSize(Paper::TextSize size);
    BacklogList *list() const { return m_list; }
    // Where the page's changes are kept for Undo; none keeps none.
    void setHistory(UndoHistory *history) { m_history = history; }

    // Redraws from the store now if it changed since the last time.
    void refreshIfNeeded();

signals:
    void openTodayRequested();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void refresh();
    void change(UndoHistory::Kind kind, const std::function<void()> &operation);

    DayStore &m_store;
    Paper::TextSize m_size;
    StoreRefresh *m_refresh = nullptr;
    UndoHistory *m_history = nullptr;
    PaperLabel *m_title = nullptr;
    PaperLabel *m_status = nullptr;
    BacklogList *m_list = nullptr;
    PaperButtonStyle *m_todayButton = nullptr;
};

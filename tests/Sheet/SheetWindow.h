#pragma once

#include <QWidget>

class BacklogView;
class NoteBar;
class UndoHistory;
class DayStore;
class PaperSheet;
class QStackedLayout;
class SheetView;

// For tests, screenshots and benchmarks: a plain window that shows the Today sheet or the Backlog on one store, with
// the notes under them and an Undo history of the changes made in it; the pages' footer buttons switch between the
// pages.
class SheetWindow : public QWidget
{
    Q_OBJECT

public:
    explicit SheetWindow(DayStore &store, QWidget *parent = nullptr);

    SheetView *sheet() const { return m_sheet; }
    BacklogView *backlog() const { return m_backlog; }
    UndoHistory *history() const { return m_history; }
    NoteBar *notes() const { return m_notes; }
    bool showsBacklog() const;
    void showToday();
    void showBacklog();

private:
    SheetView *m_sheet = nullptr;
    BacklogView *m_backlog = nullptr;
    PaperSheet *m_todayPage = nullptr;
    PaperSheet *m_backlogPage = nullptr;
    QStackedLayout *m_pages = nullptr;
    UndoHistory *m_history = nullptr;
    NoteBar *m_notes = nullptr;
};

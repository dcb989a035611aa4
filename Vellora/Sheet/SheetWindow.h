#pragma once

#include <QWidget>

class BacklogView;
class DayStore;
class PaperSheet;
class QStackedLayout;
class SheetView;

// A plain window that shows the Today sheet or the Backlog on one store; the pages' footer buttons switch
// between them.
class SheetWindow : public QWidget
{
    Q_OBJECT

public:
    explicit SheetWindow(DayStore &store, QWidget *parent = nullptr);

    SheetView *sheet() const { return m_sheet; }
    BacklogView *backlog() const { return m_backlog; }
    bool showsBacklog() const;
    void showToday();
    void showBacklog();
    // Shows the window in front of the others.
    void bringToFront();
    // Shows a hidden window, hides a shown one.
    void toggleShown();

private:
    SheetView *m_sheet = nullptr;
    BacklogView *m_backlog = nullptr;
    PaperSheet *m_todayPage = nullptr;
    PaperSheet *m_backlogPage = nullptr;
    QStackedLayout *m_pages = nullptr;
};

// Opens the window on the store and runs until it is closed; gives the exit code. Needs a QApplication.
int runSheetWindow(DayStore &store);

#include "tests/Sheet/SheetWindow.h"

#include "Vellora/Paper/PaperSheet.h"
#include "Vellora/Sheet/BacklogView.h"
#include "Vellora/Sheet/NoteBar.h"
#include "Vellora/Sheet/SheetView.h"
#include "Vellora/Sheet/UndoHistory.h"

#include <QBoxLayout>
#include <QStackedLayout>

namespace {

constexpr QSize kWindowSize(430, 760);
constexpr QSize kWindowMinimumSize(380, 620);

} // namespace

SheetWindow::SheetWindow(DayStore &store, QWidget *parent) : QWidget(parent)
{
    setWindowTitle(QStringLiteral("Vellora"));
    m_sheet = new SheetView(store);
    m_backlog = new BacklogView(store);
    m_todayPage = new PaperSheet(m_sheet);
    m_backlogPage = new PaperSheet(m_backlog);
    m_history = new UndoHistory(store, this);
    m_notes = new NoteBar(store, this);
    m_notes->follow(m_history);
    m_sheet->setHistory(m_history);
    m_sheet->setNotes(m_notes);
    m_backlog->setHistory(m_history);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_pages = new QStackedLayout;
    m_pages->addWidget(m_todayPage);
    m_pages->addWidget(m_backlogPage);
    layout->addLayout(m_pages, 1);
    layout->addWidget(m_notes);
    connect(m_sheet, &SheetView::openBacklogRequested, this, &SheetWindow::showBacklog);
    connect(m_backlog, &BacklogView::openTodayRequested, this, &SheetWindow::showToday);
    setMinimumSize(kWindowMinimumSize);
    resize(kWindowSize);
}

bool SheetWindow::showsBacklog() const
{
    return m_pages->currentWidget() == m_backlogPage;
}

void SheetWindow::showToday()
{
    m_pages->setCurrentWidget(m_todayPage);
}

void SheetWindow::showBacklog()
{
    m_pages->setCurrentWidget(m_backlogPage);
}

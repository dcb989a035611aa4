#pragma once

#include "Vellora/DayData/DayItem.h"
#include "Vellora/Paper/Paper.h"

#include <QAbstractScrollArea>

#include <functional>
#include <vector>

class PaperLabel;
class PaperPlainButton;

// One waiting item of the Backlog and whether its block on Today has a free row now.
struct BacklogEntry
{
    DayItem item;
    bool hasRoom = true;
};

// One line of the Backlog list: the title in handwriting, the bring-back "→" and the delete "×". Lines are made
// only for the part of the list in view and are reused as it scrolls.
class BacklogRow : public QWidget
{
    Q_OBJECT

public:
    explicit BacklogRow(QWidget *parent = nullptr);

    void setEntry(const BacklogEntry &entry, Paper::TextSize size);
    const BacklogEntry &entry() const { return m_entry; }
    // The width left for the title in a row of the given width.
    static int titleWidth(int rowWidth);

signals:
    void bringRequested(const QString &itemId);
    void deleteRequested(const QString &itemId);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void layOutParts();

    BacklogEntry m_entry;
    PaperLabel *m_title = nullptr;
    PaperPlainButton *m_bring = nullptr;
    PaperPlainButton *m_delete = nullptr;
};

// The scrolling list of the Backlog: the note about greyed items, then one row per item, or "Nothing here".
// However long the Backlog, only the rows in view exist as widgets.
class BacklogList : public QAbstractScrollArea
{
    Q_OBJECT

public:
    explicit BacklogList(QWidget *parent = nullptr);

    void setEntries(std::vector<BacklogEntry> entries, bool showNote);
    const std::vector<BacklogEntry> &entries() const { return m_entries; }
    void setTextSize(Paper::TextSize size);
    // The rows now on screen, top to bottom.
    QList<BacklogRow *> visibleRows() const;
    // The height of the whole list, note and empty line included.
    int contentHeight() const { return m_contentHeight; }

signals:
    void bringRequested(const QString &itemId);
    void deleteRequested(const QString &itemId);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void relayout();
    void placeRows();
    int entryHeight(BacklogEntry &entry, qsizetype index, int titleWidth);
    BacklogRow *rowFromPool(qsizetype index);

    std::vector<BacklogEntry> m_entries;
    std::vector<qreal> m_advances;   // one-line width of each title, measured once per title and size
    std::vector<int> m_tops;         // top of each row in the list
    std::vector<int> m_heights;
    int m_listTop = 0;
    int m_contentHeight = 0;
    int m_laidOutWidth = -1;
    bool m_showNote = false;
    Paper::TextSize m_size = Paper::TextSize::medium;
    PaperLabel *m_note = nullptr;
    PaperLabel *m_empty = nullptr;
    QList<BacklogRow *> m_pool;
};

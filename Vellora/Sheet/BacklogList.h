#pragma once

#include "Vellora/DayData/DayItem.h"
#include "Vellora/Paper/Paper.h"

#include <QAbstractScrollArea>
#include <QFontMetricsF>
#include <QHash>

#include <array>
#include <functional>
#include <memory>
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
    // Up or Down on the focused row.
    void focusNeighbourRequested(bool forward);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void layOutParts();

    BacklogEntry m_entry;
    PaperLabel *m_title = nullptr;
    PaperPlainButton *m_bring = nullptr;
    PaperPlainButton *m_delete = nullptr;
};

// Tells whether titles fit on one line of a width, fast enough for thousands of them. The width of a title is
// estimated from a table of character widths; when the estimate is too close to the line's width to be sure, the
// answer is only a guess, and the exact (shaped) width settles it once the title is about to be seen.
class TitleMeasure
{
public:
    enum class Fit : signed char { unknown, oneLine, twoLines, guessOneLine, guessTwoLines };

    explicit TitleMeasure(const QFont &font);

    Fit estimate(const QString &title, qreal width);
    Fit exact(const QString &title, qreal width) const;
    qreal lineHeight() const { return m_lineHeight; }

private:
    // None for text the table cannot estimate (marks, scripts that join, characters outside the basic plane).
    std::optional<qreal> estimatedWidth(const QString &title);

    QFontMetricsF m_metrics;
    qreal m_lineHeight;
    QHash<char16_t, qreal> m_widths;
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
    // Scrolls the item into view and gives its row the keyboard focus.
    void focusItem(const QString &itemId);

signals:
    void bringRequested(const QString &itemId);
    void deleteRequested(const QString &itemId);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    using Fit = TitleMeasure::Fit;

    void relayout();
    void placeRows();
    TitleMeasure &measureFor(Block block);
    int entryHeight(size_t index, int titleWidth);
    void stackRows(size_t from);
    // Measures the guessed titles of the rows in view exactly; true when a row's height changed.
    bool settleRowsInView();
    BacklogRow *rowFromPool(qsizetype index);
    void focusNeighbour(const BacklogRow *row, bool forward);

    std::vector<BacklogEntry> m_entries;
    std::vector<Fit> m_fits; // whether each title fits on one line at m_measuredWidth
    int m_measuredWidth = -1;
    int m_listTop = 0;
    bool m_placing = false;
    std::array<std::unique_ptr<TitleMeasure>, 3> m_measures; // by block, for the current text size
    std::vector<int> m_tops;                                 // top of each row in the list
    std::vector<int> m_heights;
    bool m_showNote = false;
    Paper::TextSize m_size = Paper::TextSize::medium;
    PaperLabel *m_note = nullptr;
    PaperLabel *m_empty = nullptr;
    QList<BacklogRow *> m_pool;
};

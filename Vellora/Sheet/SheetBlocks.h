#pragma once

#include <QList>
#include <QWidget>

class PaperLabel;
class SlotRow;

// The three blocks of the Today sheet, one under the other: each a heading over its rows. It places the rows
// itself, because a row that is swiped or moved is drawn away from its place and must come back to it.
class SheetBlocks : public QWidget
{
    Q_OBJECT

public:
    explicit SheetBlocks(QWidget *parent = nullptr);

    void addBlock(PaperLabel *heading, const QList<SlotRow *> &rows);
    // Places headings and rows for the current width.
    void relayout();
    // The height the blocks should fit in (the view of their scroll area): where the spec's sizes need more, the
    // room around the handwriting shrinks first, and only what still does not fit scrolls. 0: no limit.
    void setFitHeight(int height);
    // The height the blocks take at a width with the spec's sizes, however short the view.
    int naturalHeight(int width) const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;

signals:
    // The height the blocks need has changed.
    void heightChanged();

protected:
    bool event(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    struct Section
    {
        PaperLabel *heading;
        QList<SlotRow *> rows;
    };

    int layOut(int width, int fitHeight, bool place) const;

    QList<Section> m_blocks;
    int m_fitHeight = 0;
    int m_lastHeight = -1;
};

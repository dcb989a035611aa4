#pragma once

#include <QWidget>

// What letting go of a swipe will do, shown once the swipe is past its threshold: a tick with "Done" (or "Not done"
// for an item already ticked) at the edge the row uncovers when swiped to the right, a bin with "Delete" when swiped
// to the left. It lies over the sheet beside its row and takes no clicks.
class SwipeSign : public QWidget
{
    Q_OBJECT

public:
    enum class Kind { none, tick, untick, bin };

    // Lives beside the row, on the row's parent.
    SwipeSign(const QString &objectName, QWidget *parent);

    // Follows a swipe of the row laid out at slotRect, by offset points; done: whether the item is ticked already.
    void follow(qreal offset, bool done, const QRect &slotRect);
    Kind kind() const { return m_kind; }
    QString word() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void drawTick(QPainter &painter, const QRectF &box) const;
    void drawBin(QPainter &painter, const QRectF &box) const;

    Kind m_kind = Kind::none;
};

#pragma once

#include <QPixmap>
#include <QWidget>

namespace Paper {

// The desk behind every page: the desk colour, and in the light scheme a soft white glow falling from the middle
// of the top edge.
class Canvas : public QWidget
{
    Q_OBJECT

public:
    explicit Canvas(QWidget *parent = nullptr);

    // Draws the desk into `area`; the glow is kept in a pixmap until the size or the scheme changes.
    void paintDesk(QPainter &painter, const QRect &area);

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    QPixmap m_desk;
};

} // namespace Paper

#pragma once

#include <QImage>
#include <QWidget>

namespace Paper {

// The desk behind every page: the desk colour, and in the light scheme a soft white glow falling from the middle
// of the top edge.
class Canvas : public QWidget
{
    Q_OBJECT

public:
    explicit Canvas(QWidget *parent = nullptr);

    // Draws the desk into `area`; the glow is kept in a small image until the size or the scheme changes.
    void paintDesk(QPainter &painter, const QRect &area);

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    QImage m_glow;
    QSize m_glowReach;
};

} // namespace Paper

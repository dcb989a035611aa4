#pragma once

#include <QPointer>
#include <QTimer>
#include <QWidget>

class QAbstractScrollArea;

// Shows that a page's scroll area holds more than it shows: a fade into the paper at each edge beyond which there is
// more, and a thin bar, while the area scrolls, that says where the view lies in the whole. It lies over the
// area's view and lets every pointer event through.
class ScrollHint : public QWidget
{
    Q_OBJECT

public:
    // Becomes a child of the area's view.
    explicit ScrollHint(QAbstractScrollArea *area);

    // Whether a fade is drawn at the top or the bottom edge: there is more beyond it.
    bool fadesTop() const;
    bool fadesBottom() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void scrolled();
    void paintFade(QPainter &painter, bool top);
    void paintBar(QPainter &painter);

    QPointer<QAbstractScrollArea> m_area;
    QTimer m_barTimer;
    bool m_barShown = false;
};

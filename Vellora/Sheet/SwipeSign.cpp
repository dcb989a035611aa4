#include "Vellora/Sheet/SwipeSign.h"

#include "Vellora/Paper/Metrics.h"
#include "Vellora/Paper/Paper.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace {

QFont signFont()
{
    return Paper::systemFont(Paper::kSwipeSignSize, QFont::DemiBold);
}

// The icon is a square as high as the word's capitals, a little more.
qreal iconSize()
{
    return std::round(QFontMetricsF(signFont()).capHeight() * 1.4);
}

} // namespace

SwipeSign::SwipeSign(const QString &objectName, QWidget *parent) : QWidget(parent)
{
    setObjectName(objectName);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    hide();
}

QString SwipeSign::word() const
{
    return m_kind == Kind::tick     ? tr("Done")
           : m_kind == Kind::untick ? tr("Not done")
           : m_kind == Kind::bin    ? tr("Delete")
                                    : QString();
}

QSize SwipeSign::sizeHint() const
{
    const QFontMetricsF metrics(signFont());
    const qreal width = iconSize() + Paper::kRowSpacing / 2.0 + metrics.horizontalAdvance(word());
    return QSize(int(std::ceil(width)) + 2 * Paper::kSwipeSignPaddingH,
                 int(std::ceil(metrics.height())) + 2 * Paper::kSwipeSignPaddingV);
}

void SwipeSign::follow(qreal offset, bool done, const QRect &slotRect)
{
    const Kind kind = offset > Paper::kSwipeThreshold    ? (done ? Kind::untick : Kind::tick)
                      : offset < -Paper::kSwipeThreshold ? Kind::bin
                                                         : Kind::none;
    if (kind == Kind::none || !slotRect.isValid()) {
        m_kind = Kind::none;
        hide();
        return;
    }
    m_kind = kind;
    // At the edge the swipe uncovers, centred on the row, above the row that slides away from it.
    const QSize size = sizeHint();
    const int x = kind == Kind::bin ? slotRect.right() + 1 - Paper::kRowPaddingH - size.width()
                                    : slotRect.left() + Paper::kRowPaddingH;
    setGeometry(QRect(QPoint(x, slotRect.center().y() - size.height() / 2), size));
    show();
    raise();
    update();
}

void SwipeSign::paintEvent(QPaintEvent *)
{
    if (m_kind == Kind::none)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const Paper::Palette &colors = Paper::palette(this);
    const QColor fill = m_kind == Kind::bin ? colors.danger : colors.accent;
    QPainterPath pill;
    const qreal radius = height() / 2.0;
    pill.addRoundedRect(QRectF(rect()), radius, radius);
    painter.fillPath(pill, fill);

    const qreal icon = iconSize();
    const qreal left = Paper::kSwipeSignPaddingH;
    const QRectF box(left, (height() - icon) / 2.0, icon, icon);
    painter.setPen(QPen(colors.cream, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    if (m_kind == Kind::bin)
        drawBin(painter, box);
    else
        drawTick(painter, box);

    painter.setFont(signFont());
    const QRectF text(box.right() + Paper::kRowSpacing / 2.0, 0, width() - box.right(), height());
    painter.drawText(text, Qt::AlignLeft | Qt::AlignVCenter, word());
}

void SwipeSign::drawTick(QPainter &painter, const QRectF &box) const
{
    QPainterPath tick;
    tick.moveTo(box.left() + box.width() * 0.1, box.top() + box.height() * 0.55);
    tick.lineTo(box.left() + box.width() * 0.4, box.top() + box.height() * 0.85);
    tick.lineTo(box.left() + box.width() * 0.95, box.top() + box.height() * 0.15);
    if (m_kind == Kind::untick) {
        // Crossed out: the tick is taken back.
        tick.moveTo(box.topLeft() + QPointF(box.width() * 0.15, box.height() * 0.15));
        tick.lineTo(box.bottomRight() - QPointF(box.width() * 0.15, box.height() * 0.15));
    }
    painter.drawPath(tick);
}

void SwipeSign::drawBin(QPainter &painter, const QRectF &box) const
{
    const qreal w = box.width();
    const qreal h = box.height();
    QPainterPath bin;
    bin.moveTo(box.left() + w * 0.05, box.top() + h * 0.2); // the lid
    bin.lineTo(box.right() - w * 0.05, box.top() + h * 0.2);
    bin.moveTo(box.left() + w * 0.35, box.top() + h * 0.2); // its handle
    bin.lineTo(box.left() + w * 0.35, box.top());
    bin.lineTo(box.right() - w * 0.35, box.top());
    bin.lineTo(box.right() - w * 0.35, box.top() + h * 0.2);
    bin.moveTo(box.left() + w * 0.18, box.top() + h * 0.32); // the body
    bin.lineTo(box.left() + w * 0.25, box.bottom());
    bin.lineTo(box.right() - w * 0.25, box.bottom());
    bin.lineTo(box.right() - w * 0.18, box.top() + h * 0.32);
    painter.drawPath(bin);
}

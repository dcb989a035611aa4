#include "Vellora/Paper/PaperStyle.h"

#include <QGuiApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>

namespace {

// Two chevrons pointing the way the menus went on, in the colour of a button's text.
class ChevronsEngine : public QIconEngine
{
public:
    explicit ChevronsEngine(Qt::Orientation orientation) : m_orientation(orientation) {}

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State) override
    {
        const QPalette::ColorGroup group = mode == QIcon::Disabled ? QPalette::Disabled : QPalette::Active;
        const qreal side = qMin(rect.width(), rect.height());
        const qreal arm = side / 4;
        QPainterPath path;
        for (const qreal at : {-arm / 1.5, arm / 1.5}) {
            path.moveTo(-arm / 2 + at, -arm);
            path.lineTo(arm / 2 + at, 0);
            path.lineTo(-arm / 2 + at, arm);
        }
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->translate(QRectF(rect).center());
        if (m_orientation == Qt::Vertical)
            painter->rotate(90);
        painter->setPen(QPen(QGuiApplication::palette().color(group, QPalette::ButtonText), qMax(1.0, side / 10),
                             Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter->drawPath(path);
        painter->restore();
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        QPixmap pixmap(size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paint(&painter, pixmap.rect(), mode, state);
        return pixmap;
    }

    QIconEngine *clone() const override { return new ChevronsEngine(m_orientation); }

private:
    Qt::Orientation m_orientation;
};

} // namespace

QIcon PaperStyle::standardIcon(StandardPixmap icon, const QStyleOption *option, const QWidget *widget) const
{
    if (icon == SP_ToolBarHorizontalExtensionButton)
        return QIcon(new ChevronsEngine(Qt::Horizontal));
    if (icon == SP_ToolBarVerticalExtensionButton)
        return QIcon(new ChevronsEngine(Qt::Vertical));
    return QProxyStyle::standardIcon(icon, option, widget);
}

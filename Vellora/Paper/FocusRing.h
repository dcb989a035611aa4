#pragma once

#include <QColor>
#include <QRectF>

class QPainter;
class QWidget;

// Where the keyboard is, drawn in the paper look. A ring shows only while the widget has the focus and the
// keyboard brought it there (Tab, arrows, a shortcut); a click that focuses a widget shows none.
namespace FocusRing {

bool shown(const QWidget *widget);
// The ring's colour: the accent, or the cream marks on a control filled with the accent.
QColor color(const QWidget *widget, bool onAccent = false);
// Strokes the ring inside the rectangle, with corners of the given radius.
void paint(QPainter &painter, const QRectF &rect, qreal radius, const QColor &color);
// Paints the ring around the whole widget when it is shown.
void paintIfShown(QPainter &painter, const QWidget *widget, qreal radius, bool onAccent = false);

} // namespace FocusRing

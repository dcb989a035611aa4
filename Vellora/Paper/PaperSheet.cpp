#include "Vellora/Paper/PaperSheet.h"

#include "Vellora/Paper/Metrics.h"
#include "Vellora/Paper/Paper.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace {

QColor sheetShadowColor(const QWidget *widget)
{
    QColor color = Paper::palette(widget).ink;
    color.setAlphaF(Paper::kSheetShadowOpacity);
    return color;
}

} // namespace

PaperSheet::PaperSheet(QWidget *content, bool wide, QWidget *parent)
    : Paper::Canvas(parent), m_content(content), m_wide(wide),
      m_shadow(sheetShadowColor(this), Paper::kSheetShadowBlur, QPointF(0, Paper::kSheetShadowOffsetY))
{
    if (m_content) {
        m_content->setParent(this);
        m_content->setAutoFillBackground(false);
    }
}

int PaperSheet::margin() const
{
    return m_wide ? Paper::kSheetMarginWide : Paper::kSheetMargin;
}

QRect PaperSheet::sheetRect() const
{
    const int maxWidth = m_wide ? Paper::kSheetMaxWidthWide : Paper::kSheetMaxWidth;
    const int width = std::max(0, std::min(maxWidth, this->width() - 2 * margin()));
    // Where the window is shorter than the page asks, the sheet gives up most of its margin above and below.
    const int vertical = this->height() < sizeHint().height() ? Paper::kSheetMarginTight : margin();
    const int height = std::max(0, this->height() - 2 * vertical);
    return QRect((this->width() - width) / 2, vertical, width, height);
}

QSize PaperSheet::sizeHint() const
{
    const QSize content = m_content ? m_content->sizeHint() : QSize();
    return content.expandedTo(QSize(0, 0)) + QSize(2 * margin(), 2 * margin());
}

QSize PaperSheet::minimumSizeHint() const
{
    const QSize content = m_content ? m_content->minimumSizeHint() : QSize();
    return content.expandedTo(QSize(0, 0)) + QSize(2 * margin(), 2 * margin());
}

void PaperSheet::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    paintDesk(painter, rect());
    const QRectF sheet = sheetRect();
    if (sheet.isEmpty())
        return;
    m_shadow.paint(painter, sheet, Paper::kSheetRadius);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath paper;
    paper.addRoundedRect(sheet, Paper::kSheetRadius, Paper::kSheetRadius);
    painter.fillPath(paper, Paper::palette(this).paper);
}

void PaperSheet::resizeEvent(QResizeEvent *event)
{
    if (m_content)
        m_content->setGeometry(sheetRect());
    Paper::Canvas::resizeEvent(event);
}

bool PaperSheet::event(QEvent *event)
{
    // The content asks for another height: whether the sheet keeps its margins may change with it.
    if (event->type() == QEvent::LayoutRequest && m_content) {
        m_content->setGeometry(sheetRect());
        update();
    }
    return Paper::Canvas::event(event);
}

void PaperSheet::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange)
        m_shadow.setColor(sheetShadowColor(this));
    Paper::Canvas::changeEvent(event);
}

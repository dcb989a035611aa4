#include "Vellora/Paper/PaperLabel.h"

#include "Vellora/Paper/Metrics.h"
#include "Vellora/Paper/PaperAccessible.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QPainter>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace {

// Lays out the text in lines of the width, stopping after maxLines (0: no limit); gives the lines made.
int layOut(QTextLayout &layout, qreal width, int maxLines)
{
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    int lines = 0;
    qreal y = 0;
    while (maxLines == 0 || lines < maxLines) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(std::max<qreal>(width, 1));
        line.setPosition(QPointF(0, y));
        y += line.height();
        ++lines;
    }
    layout.endLayout();
    return lines;
}

} // namespace

PaperLabel::PaperLabel(const QString &objectName, Paper::Role role, const QFont &font, QWidget *parent)
    : QWidget(parent), m_role(role)
{
    PaperAccessible::install();
    setObjectName(objectName);
    setFont(font);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

QFont PaperLabel::drawnFont() const
{
    if (!m_drawnFont)
        m_drawnFont = Paper::fittingFont(font(), shown());
    return *m_drawnFont;
}

void PaperLabel::setText(const QString &text)
{
    if (text == m_text)
        return;
    m_text = text;
    m_drawnFont.reset();
    m_measuredWidth = -1;
    updateGeometry();
    update();
    if (accessibleName().isEmpty())
        PaperAccessible::nameChanged(this); // the text is its name
}

void PaperLabel::setRole(Paper::Role role)
{
    if (role == m_role)
        return;
    m_role = role;
    update();
}

void PaperLabel::setMaxLines(int lines)
{
    if (lines == m_maxLines)
        return;
    m_maxLines = std::max(0, lines);
    QSizePolicy policy = sizePolicy();
    policy.setHeightForWidth(hasHeightForWidth());
    setSizePolicy(policy);
    updateGeometry();
    update();
}

void PaperLabel::setAlignment(Qt::Alignment alignment)
{
    m_alignment = alignment;
    update();
}

void PaperLabel::setStruckOut(bool struckOut)
{
    if (struckOut == isStruckOut())
        return;
    QFont struck = font();
    struck.setStrikeOut(struckOut);
    setFont(struck);
}

QString PaperLabel::shown() const
{
    return m_maxLines > 0 && m_text.size() > Paper::kLabelTextLimit ? m_text.left(Paper::kLabelTextLimit) : m_text;
}

qreal PaperLabel::lineHeight(const QFont &font)
{
    return QFontMetricsF(font).height();
}

int PaperLabel::lineCount(const QString &text, const QFont &font, qreal width)
{
    if (text.isEmpty())
        return 1;
    // Most texts fit on one line; measuring them is much cheaper than laying them out.
    if (QFontMetricsF(font).horizontalAdvance(text) <= width)
        return 1;
    QTextLayout layout(text, font);
    return std::max(1, layOut(layout, width, 0));
}

int PaperLabel::linesAt(qreal width) const
{
    if (m_maxLines == 1)
        return 1;
    if (width != m_measuredWidth) {
        m_measuredWidth = width;
        m_measuredLines = lineCount(shown(), drawnFont(), width);
    }
    return m_maxLines == 0 ? m_measuredLines : std::min(m_measuredLines, m_maxLines);
}

QSize PaperLabel::sizeHint() const
{
    const QFontMetricsF metrics(drawnFont());
    return QSize(int(std::ceil(metrics.horizontalAdvance(shown()))), int(std::ceil(metrics.height())));
}

QSize PaperLabel::minimumSizeHint() const
{
    if (m_maxLines == 1)
        return sizeHint();
    return QSize(0, int(std::ceil(lineHeight(drawnFont()))));
}

int PaperLabel::heightForWidth(int width) const
{
    return int(std::ceil(linesAt(width) * lineHeight(drawnFont())));
}

void PaperLabel::paintEvent(QPaintEvent *)
{
    if (m_text.isEmpty())
        return;
    QPainter painter(this);
    painter.setPen(Paper::color(m_role, this));
    painter.setFont(drawnFont());

    const qreal width = this->width();
    const QString text = shown();
    const bool rightToLeft = text.isRightToLeft();
    QTextLayout layout(text, drawnFont());
    const int lines = layOut(layout, width, m_maxLines);
    qreal textHeight = 0;
    for (int i = 0; i < lines; ++i)
        textHeight += layout.lineAt(i).height();
    const qreal top = std::max<qreal>(0, (height() - textHeight) / 2);

    const bool cut =
        lines > 0 && layout.lineAt(lines - 1).textStart() + layout.lineAt(lines - 1).textLength() < m_text.size();
    for (int i = 0; i < lines; ++i) {
        const QTextLine line = layout.lineAt(i);
        qreal x = 0;
        const bool last = i == lines - 1;
        QString piece = text.mid(line.textStart(), last && cut ? -1 : line.textLength());
        if (last && cut)
            piece = QFontMetricsF(drawnFont()).elidedText(piece.simplified(), Qt::ElideRight, width);
        while (piece.endsWith(QLatin1Char(' ')))
            piece.chop(1);
        const qreal pieceWidth = QFontMetricsF(drawnFont()).horizontalAdvance(piece);
        if (m_alignment & Qt::AlignHCenter)
            x = (width - pieceWidth) / 2;
        else if (m_alignment & Qt::AlignRight || rightToLeft)
            x = width - pieceWidth; // a right-to-left text starts at the right, wherever leading text starts

        const qreal baseline = top + line.y() + line.ascent();
        painter.drawText(QPointF(x, baseline), piece);
    }
}

void PaperLabel::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange) {
        m_measuredWidth = -1;
        m_drawnFont.reset();
        updateGeometry();
        update();
    }
    QWidget::changeEvent(event);
}

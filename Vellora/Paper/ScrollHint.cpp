#include "Vellora/Paper/ScrollHint.h"

#include "Vellora/Paper/Metrics.h"
#include "Vellora/Paper/Paper.h"

#include <QAbstractScrollArea>
#include <QEvent>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>

#include <algorithm>

ScrollHint::ScrollHint(QAbstractScrollArea *area) : QWidget(area->viewport()), m_area(area)
{
    setObjectName(area->objectName() + QStringLiteral(".hint"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    m_barTimer.setSingleShot(true);
    m_barTimer.setInterval(Paper::kScrollBarShownMs);
    connect(&m_barTimer, &QTimer::timeout, this, [this] {
        m_barShown = false;
        update();
    });
    QScrollBar *bar = area->verticalScrollBar();
    connect(bar, &QScrollBar::valueChanged, this, &ScrollHint::scrolled);
    connect(bar, &QScrollBar::rangeChanged, this, [this] { update(); });
    area->viewport()->installEventFilter(this);
    setGeometry(area->viewport()->rect());
    raise();
    show();
}

bool ScrollHint::fadesTop() const
{
    return m_area && m_area->verticalScrollBar()->value() > m_area->verticalScrollBar()->minimum();
}

bool ScrollHint::fadesBottom() const
{
    return m_area && m_area->verticalScrollBar()->value() < m_area->verticalScrollBar()->maximum();
}

void ScrollHint::scrolled()
{
    m_barShown = true;
    m_barTimer.start();
    update();
}

bool ScrollHint::eventFilter(QObject *watched, QEvent *event)
{
    if (m_area && watched == m_area->viewport()) {
        if (event->type() == QEvent::Resize)
            setGeometry(m_area->viewport()->rect());
        // The scrolled page is a child of the view too: the hint stays above it.
        if (event->type() == QEvent::ChildAdded || event->type() == QEvent::Resize)
            raise();
    }
    return QWidget::eventFilter(watched, event);
}

void ScrollHint::paintEvent(QPaintEvent *)
{
    if (!m_area)
        return;
    QPainter painter(this);
    if (fadesTop())
        paintFade(painter, true);
    if (fadesBottom())
        paintFade(painter, false);
    if (m_barShown && m_area->verticalScrollBar()->maximum() > m_area->verticalScrollBar()->minimum())
        paintBar(painter);
}

void ScrollHint::paintFade(QPainter &painter, bool top)
{
    const int height = std::min(Paper::kScrollFadeHeight, this->height() / 3);
    const QRect band(0, top ? 0 : this->height() - height, width(), height);
    QColor paper = Paper::palette(this).paper;
    QColor clear = paper;
    clear.setAlpha(0);
    QLinearGradient gradient(band.topLeft(), band.bottomLeft());
    gradient.setColorAt(0, top ? paper : clear);
    gradient.setColorAt(1, top ? clear : paper);
    painter.fillRect(band, gradient);
}

void ScrollHint::paintBar(QPainter &painter)
{
    const QScrollBar *bar = m_area->verticalScrollBar();
    const qreal whole = bar->maximum() - bar->minimum() + bar->pageStep();
    const qreal track = height() - 2 * Paper::kScrollBarInset;
    const qreal length = std::max<qreal>(Paper::kScrollBarMinLength, track * bar->pageStep() / whole);
    const qreal top =
        Paper::kScrollBarInset + (track - length) * (bar->value() - bar->minimum()) / (bar->maximum() - bar->minimum());
    const QRectF thumb(width() - Paper::kScrollBarInset - Paper::kScrollBarWidth, top, Paper::kScrollBarWidth, length);
    QColor color = Paper::palette(this).muted;
    color.setAlphaF(Paper::kScrollBarOpacity);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(thumb, Paper::kScrollBarWidth / 2, Paper::kScrollBarWidth / 2);
    painter.fillPath(path, color);
}

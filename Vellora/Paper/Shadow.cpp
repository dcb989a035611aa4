#include "Vellora/Paper/Shadow.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace Paper {

namespace {

// Three box blurs in a row come close to a Gaussian of standard deviation sigma.
std::array<int, 3> boxSizesFor(qreal sigma)
{
    const qreal ideal = std::sqrt(12 * sigma * sigma / 3 + 1);
    int lower = int(std::floor(ideal));
    if (lower % 2 == 0)
        --lower;
    const int upper = lower + 2;
    const qreal m = (12 * sigma * sigma - 3 * lower * lower - 4 * 3 * lower - 3 * 3) / (-4 * lower - 4);
    const int useLower = int(std::round(m));
    std::array<int, 3> sizes{};
    for (int i = 0; i < 3; ++i)
        sizes[i] = std::max(1, i < useLower ? lower : upper);
    return sizes;
}

// One box blur of the given radius along rows (horizontal) or columns, of an 8-bit alpha image.
void boxBlur(QImage &image, int radius, bool horizontal)
{
    if (radius <= 0)
        return;
    const int width = image.width();
    const int height = image.height();
    const int lines = horizontal ? height : width;
    const int length = horizontal ? width : height;
    const int window = 2 * radius + 1;
    std::vector<uchar> line(static_cast<size_t>(length));
    for (int l = 0; l < lines; ++l) {
        const auto at = [&](int i) -> uchar & {
            return horizontal ? image.scanLine(l)[i] : image.scanLine(i)[l];
        };
        for (int i = 0; i < length; ++i)
            line[size_t(i)] = at(i);
        const auto value = [&](int i) { return i < 0 || i >= length ? 0 : int(line[size_t(i)]); };
        int sum = 0;
        for (int i = -radius; i <= radius; ++i)
            sum += value(i);
        for (int i = 0; i < length; ++i) {
            at(i) = uchar((sum + window / 2) / window);
            sum += value(i + radius + 1) - value(i - radius);
        }
    }
}

} // namespace

QImage blurredRoundedRect(QSizeF size, qreal radius, QColor color, qreal blur, qreal scale, int *padding)
{
    const qreal sigma = blur / 2;
    const int pad = int(std::ceil(sigma * 3));
    if (padding)
        *padding = pad;
    const QSize pixels((QSizeF(size.width() + 2 * pad, size.height() + 2 * pad) * scale).toSize());
    if (pixels.isEmpty())
        return {};

    QImage mask(pixels, QImage::Format_Alpha8);
    mask.fill(0);
    {
        QPainter painter(&mask);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(scale, scale);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(QPointF(pad, pad), size), radius, radius);
        painter.fillPath(shape, Qt::black);
    }
    for (int box : boxSizesFor(sigma * scale)) {
        boxBlur(mask, (box - 1) / 2, true);
        boxBlur(mask, (box - 1) / 2, false);
    }

    QImage shadow(pixels, QImage::Format_ARGB32_Premultiplied);
    shadow.fill(color);
    QPainter painter(&shadow);
    painter.setCompositionMode(QPainter::CompositionMode_DestinationIn);
    painter.drawImage(0, 0, mask);
    painter.end();
    shadow.setDevicePixelRatio(scale);
    return shadow;
}

Shadow::Shadow(QColor color, qreal blur, QPointF offset)
    : m_color(color)
    , m_blur(blur)
    , m_offset(offset)
{
}

void Shadow::setColor(const QColor &color)
{
    if (color == m_color)
        return;
    m_color = color;
    m_cache = QPixmap();
}

qreal Shadow::reach() const
{
    return std::ceil(m_blur / 2 * 3) + std::max(std::abs(m_offset.x()), std::abs(m_offset.y()));
}

void Shadow::paint(QPainter &painter, const QRectF &shape, qreal radius)
{
    const qreal scale = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    if (m_cache.isNull() || m_cachedSize != shape.size() || m_cachedRadius != radius || m_cachedScale != scale) {
        int padding = 0;
        m_cache = QPixmap::fromImage(blurredRoundedRect(shape.size(), radius, m_color, m_blur, scale, &padding));
        m_cachedSize = shape.size();
        m_cachedRadius = radius;
        m_cachedScale = scale;
    }
    const qreal padding = std::ceil(m_blur / 2 * 3);
    painter.drawPixmap(shape.topLeft() + m_offset - QPointF(padding, padding), m_cache);
}

} // namespace Paper

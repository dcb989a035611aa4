#include "Vellora/Paper/Shadow.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPixmapCache>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace Paper {

namespace {

// From this standard deviation on (in device pixels) the blur is made at half the resolution.
constexpr qreal kHalfResolutionSigma = 6;

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

// One box blur of the given radius along the rows of an 8-bit alpha image.
void boxBlurRows(QImage &image, int radius)
{
    const int width = image.width();
    const int window = 2 * radius + 1;
    std::vector<int> line(size_t(width + 2 * radius + 1), 0);
    for (int y = 0; y < image.height(); ++y) {
        uchar *row = image.scanLine(y);
        std::copy(row, row + width, line.begin() + radius);
        int sum = 0;
        for (int i = 0; i < window; ++i)
            sum += line[size_t(i)];
        for (int x = 0; x < width; ++x) {
            row[x] = uchar((sum + window / 2) / window);
            sum += line[size_t(x + window)] - line[size_t(x)];
        }
    }
}

// The same along the columns, a whole row of running sums at a time so that memory is read in order.
void boxBlurColumns(QImage &image, int radius)
{
    const int width = image.width();
    const int height = image.height();
    const int window = 2 * radius + 1;
    const QImage source = image.copy();
    std::vector<int> sums(size_t(width), 0);
    const auto add = [&](int y, int sign) {
        if (y < 0 || y >= height)
            return;
        const uchar *row = source.constScanLine(y);
        for (int x = 0; x < width; ++x)
            sums[size_t(x)] += sign * row[x];
    };
    for (int y = -radius; y <= radius; ++y)
        add(y, 1);
    for (int y = 0; y < height; ++y) {
        uchar *row = image.scanLine(y);
        for (int x = 0; x < width; ++x)
            row[x] = uchar((sums[size_t(x)] + window / 2) / window);
        add(y + radius + 1, 1);
        add(y - radius, -1);
    }
}

// The shape's mask at `pixels`, blurred by the boxes.
QImage blurredMask(QSize pixels, QRectF shape, qreal radius, qreal scale, const std::array<int, 3> &boxes)
{
    QImage mask(pixels, QImage::Format_Alpha8);
    mask.fill(0);
    {
        QPainter painter(&mask);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(scale, scale);
        QPainterPath path;
        path.addRoundedRect(shape, radius, radius);
        painter.fillPath(path, Qt::black);
    }
    for (int box : boxes) {
        boxBlurRows(mask, (box - 1) / 2);
        boxBlurColumns(mask, (box - 1) / 2);
    }
    return mask;
}

// The blurred shape itself: a premultiplied image larger on every side than the shape by three times half the blur.
QImage blurredRoundedRect(QSizeF size, qreal radius, QColor color, qreal blur, qreal scale)
{
    const qreal sigma = blur / 2;
    const int pad = int(std::ceil(sigma * 3));
    const QSize pixels((QSizeF(size.width() + 2 * pad, size.height() + 2 * pad) * scale).toSize());
    if (pixels.isEmpty())
        return {};
    const QImage mask = blurredMask(pixels, QRectF(QPointF(pad, pad), size), radius, scale, boxSizesFor(sigma * scale));

    QImage shadow(pixels, QImage::Format_ARGB32_Premultiplied);
    shadow.fill(color);
    QPainter painter(&shadow);
    painter.setCompositionMode(QPainter::CompositionMode_DestinationIn);
    painter.drawImage(0, 0, mask);
    painter.end();
    shadow.setDevicePixelRatio(scale);
    return shadow;
}

} // namespace

Shadow::Shadow(QColor color, qreal blur, QPointF offset) : m_color(color), m_blur(blur), m_offset(offset) {}

void Shadow::setColor(const QColor &color)
{
    m_color = color;
}

qreal Shadow::reach() const
{
    return std::ceil(m_blur / 2 * 3) + std::max(std::abs(m_offset.x()), std::abs(m_offset.y()));
}

void Shadow::paint(QPainter &painter, const QRectF &shape, qreal radius)
{
    const qreal scale = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    // Pages of one size share one shadow: the sheets of Today, the Backlog and the Settings.
    const QString key = QStringLiteral("paper-shadow:%1x%2:%3:%4:%5:%6")
                            .arg(shape.width())
                            .arg(shape.height())
                            .arg(radius)
                            .arg(m_color.name(QColor::HexArgb))
                            .arg(m_blur)
                            .arg(scale);
    QPixmap shadow;
    if (!QPixmapCache::find(key, &shadow)) {
        // A wide blur has no detail to lose at half the resolution, and costs a quarter to make there; it is
        // drawn scaled up, smoothly.
        const qreal blurScale = m_blur / 2 * scale >= kHalfResolutionSigma ? scale / 2 : scale;
        shadow = QPixmap::fromImage(blurredRoundedRect(shape.size(), radius, m_color, m_blur, blurScale));
        QPixmapCache::insert(key, shadow);
    }
    const qreal padding = std::ceil(m_blur / 2 * 3);
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    // Drawn into its logical rectangle: a shadow made at a lower resolution than the device's is scaled up.
    const QRectF target(shape.topLeft() + m_offset - QPointF(padding, padding),
                        QSizeF(shadow.size()) / shadow.devicePixelRatio());
    painter.drawPixmap(target, shadow, QRectF(shadow.rect()));
    painter.restore();
}

} // namespace Paper

#include "Vellora/Paper/Shadow.h"

#include <QPainter>
#include <QPainterPath>
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

// How many of `length` pixels a blur can leave out of the middle of a side: between the corners, every row (or
// column) of the mask is the same, and stays so under the blur as long as the run of them, shortened, is still
// wider than the blur reaches both ways.
int repeatedMiddle(int length, int corner, int reach)
{
    return std::max(0, length - 2 * corner - 2 * reach - 3);
}

// The image `cut` pixels longer along x (or y), the pixels at `at` repeated to fill the gap.
QImage widened(const QImage &image, int at, int cut, Qt::Orientation along)
{
    if (cut == 0)
        return image;
    const bool horizontal = along == Qt::Horizontal;
    QImage wide(image.size() + (horizontal ? QSize(cut, 0) : QSize(0, cut)), image.format());
    for (int y = 0; y < wide.height(); ++y) {
        uchar *row = wide.scanLine(y);
        if (!horizontal) {
            const int from = y < at ? y : (y <= at + cut ? at : y - cut);
            std::copy_n(image.constScanLine(from), image.width(), row);
            continue;
        }
        const uchar *source = image.constScanLine(y);
        std::copy_n(source, at, row);
        std::fill_n(row + at, cut + 1, source[at]);
        std::copy(source + at + 1, source + image.width(), row + at + cut + 1);
    }
    return wide;
}

} // namespace

QImage blurredRoundedRect(QSizeF size, qreal radius, QColor color, qreal blur, qreal scale, int *padding,
                          Blur blurred)
{
    const qreal sigma = blur / 2;
    const int pad = int(std::ceil(sigma * 3));
    if (padding)
        *padding = pad;
    const QSize pixels((QSizeF(size.width() + 2 * pad, size.height() + 2 * pad) * scale).toSize());
    if (pixels.isEmpty())
        return {};

    // Only the corners differ along a side: the blur is made of a shape shortened by whole pixels in the middle,
    // whose middle row and column are then repeated, which gives the same pixels at a fraction of the work.
    const std::array<int, 3> boxes = boxSizesFor(sigma * scale);
    int reach = 0;
    for (int box : boxes)
        reach += (box - 1) / 2;
    const int corner = int(std::ceil((pad + radius) * scale)) + 1;
    const bool repeat = blurred == Blur::repeatingTheMiddle;
    const int cutX = repeat ? repeatedMiddle(pixels.width(), corner, reach) : 0;
    const int cutY = repeat ? repeatedMiddle(pixels.height(), corner, reach) : 0;
    const QSizeF shortened(size.width() - cutX / scale, size.height() - cutY / scale);
    const QImage small =
        blurredMask(pixels - QSize(cutX, cutY), QRectF(QPointF(pad, pad), shortened), radius, scale, boxes);
    const QImage mask = widened(widened(small, corner + reach + 1, cutX, Qt::Horizontal), corner + reach + 1, cutY,
                                Qt::Vertical);

    QImage shadow(pixels, QImage::Format_ARGB32_Premultiplied);
    shadow.fill(color);
    QPainter painter(&shadow);
    painter.setCompositionMode(QPainter::CompositionMode_DestinationIn);
    painter.drawImage(0, 0, mask);
    painter.end();
    shadow.setDevicePixelRatio(scale);
    return shadow;
}

Shadow::Shadow(QColor color, qreal blur, QPointF offset) : m_color(color), m_blur(blur), m_offset(offset) {}

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
        // Pages of one size share one shadow: the sheets of Today, the Backlog and the Settings.
        const QString key = QStringLiteral("paper-shadow:%1x%2:%3:%4:%5:%6")
                                .arg(shape.width())
                                .arg(shape.height())
                                .arg(radius)
                                .arg(m_color.name(QColor::HexArgb))
                                .arg(m_blur)
                                .arg(scale);
        if (!QPixmapCache::find(key, &m_cache)) {
            // A wide blur has no detail to lose at half the resolution, and costs a quarter to make there; it is
            // drawn scaled up, smoothly.
            const qreal blurScale = m_blur / 2 * scale >= kHalfResolutionSigma ? scale / 2 : scale;
            m_cache = QPixmap::fromImage(blurredRoundedRect(shape.size(), radius, m_color, m_blur, blurScale, nullptr));
            QPixmapCache::insert(key, m_cache);
        }
        m_cachedSize = shape.size();
        m_cachedRadius = radius;
        m_cachedScale = scale;
    }
    const qreal padding = std::ceil(m_blur / 2 * 3);
    const bool smooth = painter.testRenderHint(QPainter::SmoothPixmapTransform);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    // Drawn into its logical rectangle: a shadow made at a lower resolution than the device's is scaled up.
    const QRectF target(shape.topLeft() + m_offset - QPointF(padding, padding),
                        QSizeF(m_cache.size()) / m_cache.devicePixelRatio());
    painter.drawPixmap(target, m_cache, QRectF(m_cache.rect()));
    painter.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
}

} // namespace Paper

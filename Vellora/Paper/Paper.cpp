#include "Vellora/Paper/Paper.h"

#include "Vellora/Paper/Metrics.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QRawFont>
#include <QResource>
#include <QToolTip>
#include <QWidget>

#include <atomic>

// Resources of a static library are registered by hand, at global scope.
static void registerFontResources()
{
    Q_INIT_RESOURCE(caveat);
}

namespace Paper {

namespace {

// A size for each TextSize: small, medium, large.
using SizeRow = std::array<int, 3>;

int pick(const SizeRow &row, TextSize size)
{
    return row[size_t(size)];
}

// By Block: big, medium, small.
constexpr std::array<SizeRow, 3> kFontSizes{{{26, 30, 35}, {22, 26, 31}, {19, 22, 26}}};
constexpr std::array<SizeRow, 3> kRowHeights{{{78, 90, 104}, {52, 58, 67}, {42, 48, 55}}};

// By TextSize and Appearance, in the order of their values.
constexpr std::array<const char *, 3> kTextSizeForms{"s", "m", "l"};
constexpr std::array<const char *, 3> kTextSizeLabels{"Small", "Medium", "Large"};
constexpr std::array<const char *, 3> kAppearanceForms{"auto", "light", "dark"};
constexpr std::array<const char *, 3> kAppearanceLabels{"Auto", "Light", "Dark"};

QColor opaque(QRgb value)
{
    return QColor::fromRgb(value);
}

QColor translucent(QRgb value, qreal opacity)
{
    QColor color = QColor::fromRgb(value);
    color.setAlphaF(float(opacity));
    return color;
}

Palette makePalette(Scheme scheme)
{
    const bool dark = scheme == Scheme::dark;
    const auto pick = [dark](QRgb light, QRgb darkValue) { return opaque(dark ? darkValue : light); };
    Palette palette;
    palette.ink = pick(0x2D2924, 0xECE4D6);
    palette.inkSoft = pick(0x3D3832, 0xD8CFC1);
    palette.muted = pick(0x817A70, 0xA49B8D);
    palette.faint = pick(0x9B9388, 0x7B7367);
    palette.accent = pick(0x765237, 0xC9A179);
    palette.paper = pick(0xF8F3E8, 0x2B2723);
    palette.rule = pick(0xD8D0C3, 0x413B34);
    palette.desk = pick(0xD7CFC1, 0x221F1B);
    palette.cream = QColor::fromRgbF(1.0f, 0.98f, 0.949f);
    palette.accentTint = translucent(0x765237, 0.08);
    palette.dangerTint = translucent(0xB03A2E, 0.10);
    palette.danger = pick(0xB03A2E, 0xE07A6E);
    return palette;
}

std::atomic<bool> g_animationsEnabled{true};

} // namespace

QString storedForm(TextSize size)
{
    return QLatin1String(kTextSizeForms[size_t(size)]);
}

std::optional<TextSize> textSizeFromStoredForm(const QString &raw)
{
    for (TextSize size : kAllTextSizes) {
        if (storedForm(size) == raw)
            return size;
    }
    return std::nullopt;
}

QString label(TextSize size)
{
    return QLatin1String(kTextSizeLabels[size_t(size)]);
}

QString storedForm(Appearance appearance)
{
    return QLatin1String(kAppearanceForms[size_t(appearance)]);
}

std::optional<Appearance> appearanceFromStoredForm(const QString &raw)
{
    for (Appearance appearance : kAllAppearances) {
        if (storedForm(appearance) == raw)
            return appearance;
    }
    return std::nullopt;
}

QString label(Appearance appearance)
{
    return QLatin1String(kAppearanceLabels[size_t(appearance)]);
}

int fontSize(Block block, TextSize size)
{
    return pick(kFontSizes[size_t(block)], size);
}

int rowHeight(Block block, TextSize size)
{
    return pick(kRowHeights[size_t(block)], size);
}

int emptyFontSize(TextSize size)
{
    return pick(kFontSizes[size_t(Block::medium)], size);
}

int previewFontSize(TextSize size)
{
    return pick(kFontSizes[size_t(Block::big)], size);
}

Scheme schemeOf(const QWidget *widget)
{
    const QPalette palette = widget ? widget->palette() : QPalette();
    return palette.color(QPalette::Window).lightnessF() < 0.5 ? Scheme::dark : Scheme::light;
}

QColor Palette::operator[](Role role) const
{
    // In the order of Role.
    static constexpr QColor Palette::*kColors[] = {&Palette::ink,        &Palette::inkSoft,    &Palette::muted,
                                                   &Palette::faint,      &Palette::accent,     &Palette::paper,
                                                   &Palette::rule,       &Palette::desk,       &Palette::cream,
                                                   &Palette::accentTint, &Palette::dangerTint, &Palette::danger};
    return this->*kColors[size_t(role)];
}

const Palette &palette(Scheme scheme)
{
    static const Palette light = makePalette(Scheme::light);
    static const Palette dark = makePalette(Scheme::dark);
    return scheme == Scheme::dark ? dark : light;
}

QPalette qtPalette(Scheme scheme)
{
    const Palette &colors = palette(scheme);
    // clang-format off
    const std::pair<QPalette::ColorRole, QColor> roles[] = {
        {QPalette::Window, colors.desk},            {QPalette::WindowText, colors.ink},
        {QPalette::Base, colors.paper},             {QPalette::AlternateBase, colors.paper},
        {QPalette::Text, colors.ink},               {QPalette::Button, colors.paper},
        {QPalette::ButtonText, colors.ink},         {QPalette::BrightText, colors.cream},
        {QPalette::Highlight, colors.accent},       {QPalette::HighlightedText, colors.cream},
        {QPalette::PlaceholderText, colors.faint},  {QPalette::ToolTipBase, colors.paper},
        {QPalette::ToolTipText, colors.ink},        {QPalette::Link, colors.accent},
        {QPalette::Light, colors.paper.lighter(110)}, {QPalette::Midlight, colors.paper},
        {QPalette::Mid, colors.rule},               {QPalette::Dark, colors.muted},
        {QPalette::Shadow, colors.ink}};
    // clang-format on
    QPalette result;
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        for (const auto &[role, color] : roles)
            result.setColor(group, role, color);
    }
    result.setColor(QPalette::Disabled, QPalette::WindowText, colors.faint);
    result.setColor(QPalette::Disabled, QPalette::Text, colors.faint);
    result.setColor(QPalette::Disabled, QPalette::ButtonText, colors.faint);
    return result;
}

void applyAppearance(QWidget *window, Appearance appearance)
{
    if (!window)
        return;
    // An empty palette inherits the system's again.
    window->setPalette(appearance == Appearance::automatic
                           ? QPalette()
                           : qtPalette(appearance == Appearance::dark ? Scheme::dark : Scheme::light));
}

void applySchemeToPopups(Scheme scheme)
{
    const QPalette colors = qtPalette(scheme);
    for (const char *kind : {"QMenu", "QDialog", "QMessageBox"})
        QApplication::setPalette(colors, kind);
    QToolTip::setPalette(colors);
}

QString handwritingFamily()
{
    static const QString family = [] {
        registerFontResources();
        // Item text uses the regular weight only; each face loaded costs the start a few milliseconds.
        // Stored uncompressed, the face is read in place from the program's own pages rather than unpacked into
        // a copy.
        const QResource face(QStringLiteral(":/fonts/Caveat-Regular.ttf"));
        const int id = face.isValid() && face.compressionAlgorithm() == QResource::NoCompression
                           ? QFontDatabase::addApplicationFontFromData(QByteArray::fromRawData(
                                 reinterpret_cast<const char *>(face.data()), qsizetype(face.size())))
                           : QFontDatabase::addApplicationFont(face.fileName());
        const QStringList families = QFontDatabase::applicationFontFamilies(id);
        const QString loaded = families.value(0);
        // Without the font the text still shows, in the system's handwriting-like fallback.
        return loaded.isEmpty() ? QStringLiteral("Caveat") : loaded;
    }();
    return family;
}

QFont handwriting(int pixelSize)
{
    QFont font(handwritingFamily());
    font.setPixelSize(pixelSize);
    font.setWeight(QFont::Normal);
    font.setStyleHint(QFont::Cursive);
    return font;
}

QFont fittingFont(const QFont &font, const QString &text)
{
    if (font.family() != handwritingFamily())
        return font;
    // The face itself, not the families the system would fall back on.
    const QRawFont face = QRawFont::fromFont(font);
    bool lacking = false;
    for (const char32_t letter : text.toUcs4()) {
        if (QChar::isLetter(letter) && !face.supportsCharacter(letter)) {
            lacking = true;
            break;
        }
    }
    if (!lacking)
        return font;
    const QFontMetricsF handwritten(font);
    QFont fallback = systemFont(font.pixelSize());
    fallback.setStrikeOut(font.strikeOut());
    const qreal fallbackXHeight = QFontMetricsF(fallback).xHeight();
    if (fallbackXHeight > 0) {
        const qreal scale = std::min<qreal>(1, handwritten.xHeight() / fallbackXHeight);
        fallback.setPixelSize(std::max(1, int(std::round(font.pixelSize() * scale))));
    }
    return fallback;
}

QFont systemFont(int pixelSize, QFont::Weight weight, qreal tracking)
{
    QFont font; // the application's font
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    if (tracking != 0)
        font.setLetterSpacing(QFont::AbsoluteSpacing, tracking);
    return font;
}

QFont titleFont()
{
    QFont font(QStringLiteral("serif"));
    font.setStyleHint(QFont::Serif);
    font.setPixelSize(kTitleSize);
    font.setWeight(QFont::Medium);
    font.setLetterSpacing(QFont::AbsoluteSpacing, kTitleTracking);
    return font;
}

void setAnimationsEnabled(bool enabled)
{
    g_animationsEnabled = enabled;
}

bool animationsEnabled()
{
    return g_animationsEnabled;
}

QEasingCurve easeOut()
{
    // The standard ease-out timing: cubic Bézier (0, 0) (0.58, 1).
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0, 0), QPointF(0.58, 1), QPointF(1, 1));
    return curve;
}

} // namespace Paper

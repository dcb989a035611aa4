#include "Vellora/Paper/Paper.h"
#include "Vellora/Paper/Canvas.h"
#include "Vellora/Paper/Metrics.h"
#include "Vellora/Paper/PaperButtonStyle.h"
#include "Vellora/Paper/PaperChoiceStyle.h"
#include "Vellora/Paper/PaperLabel.h"
#include "Vellora/Paper/PaperSheet.h"
#include "Vellora/Paper/Shadow.h"

#include <QBoxLayout>
#include <QFontInfo>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// Renders a widget alone onto a transparent image of its size.
QImage render(QWidget *widget)
{
    QImage image(widget->size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    widget->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

} // namespace

TEST(PaperTest, textSizesAndAppearancesConvertToAndFromTheirRawValues)
{
    EXPECT_EQ(Paper::textSizeFromRawValue("m"), Paper::TextSize::medium);
    EXPECT_EQ(Paper::textSizeFromRawValue("s"), Paper::TextSize::small);
    EXPECT_EQ(Paper::textSizeFromRawValue("l"), Paper::TextSize::large);
    for (const char *bad : {"", "M", "medium", "xl", " m"})
        EXPECT_EQ(Paper::textSizeFromRawValue(bad), std::nullopt) << bad;
    QStringList labels;
    for (Paper::TextSize size : Paper::kAllTextSizes) {
        EXPECT_EQ(Paper::textSizeFromRawValue(Paper::rawValue(size)), size);
        labels.append(Paper::label(size));
    }
    EXPECT_EQ(labels, QStringList({"Small", "Medium", "Large"}));

    EXPECT_EQ(Paper::appearanceFromRawValue("auto"), Paper::Appearance::automatic);
    EXPECT_EQ(Paper::appearanceFromRawValue("Dark"), std::nullopt);
    labels.clear();
    for (Paper::Appearance appearance : Paper::kAllAppearances) {
        EXPECT_EQ(Paper::appearanceFromRawValue(Paper::rawValue(appearance)), appearance);
        labels.append(Paper::label(appearance));
    }
    EXPECT_EQ(labels, QStringList({"Auto", "Light", "Dark"}));
}

TEST(PaperTest, sizesFollowTheBlockAndTheTextSize)
{
    using Paper::TextSize;
    const std::array<TextSize, 3> sizes{TextSize::small, TextSize::medium, TextSize::large};
    const std::map<Bucket, std::array<int, 3>> fonts{
        {Bucket::big, {26, 30, 35}}, {Bucket::medium, {22, 26, 31}}, {Bucket::small, {19, 22, 26}}};
    const std::map<Bucket, std::array<int, 3>> rows{
        {Bucket::big, {78, 90, 104}}, {Bucket::medium, {52, 58, 67}}, {Bucket::small, {42, 48, 55}}};
    for (size_t i = 0; i < sizes.size(); ++i) {
        for (Bucket bucket : kAllBuckets) {
            EXPECT_EQ(Paper::fontSize(bucket, sizes[i]), fonts.at(bucket)[i]);
            EXPECT_EQ(Paper::rowHeight(bucket, sizes[i]), rows.at(bucket)[i]);
        }
        EXPECT_EQ(Paper::emptyFontSize(sizes[i]), fonts.at(Bucket::medium)[i]);
        EXPECT_EQ(Paper::previewFontSize(sizes[i]), fonts.at(Bucket::big)[i]);
    }
}

TEST(PaperTest, theHandwritingFontIsLoadedFromTheProgram)
{
    const QFont font = Paper::itemFont(Bucket::big, Paper::TextSize::medium);
    EXPECT_EQ(QFontInfo(font).family(), "Caveat");
    EXPECT_EQ(font.pixelSize(), 30);
    EXPECT_EQ(Paper::handwritingFamily(), Paper::handwritingFamily());
}

TEST(PaperTest, aForcedAppearanceDecidesThePaletteWhateverTheSystemUses)
{
    QWidget window;
    QWidget child(&window);
    ASSERT_EQ(Paper::schemeOf(&child), Paper::Scheme::light) << "the test platform is light";

    Paper::applyAppearance(&window, Paper::Appearance::dark);
    EXPECT_EQ(Paper::schemeOf(&child), Paper::Scheme::dark);
    EXPECT_EQ(Paper::palette(&child).paper, QColor(0x2B, 0x27, 0x23));
    EXPECT_EQ(Paper::palette(&child).ink, QColor(0xEC, 0xE4, 0xD6));

    Paper::applyAppearance(&window, Paper::Appearance::light);
    EXPECT_EQ(Paper::palette(&child).paper, QColor(0xF8, 0xF3, 0xE8));
    EXPECT_EQ(Paper::palette(&child).desk, QColor(0xD7, 0xCF, 0xC1));

    Paper::applyAppearance(&window, Paper::Appearance::dark);
    Paper::applyAppearance(&window, Paper::Appearance::automatic);
    EXPECT_EQ(Paper::schemeOf(&child), Paper::Scheme::light) << "auto follows the system again";

    const Paper::Palette &light = Paper::palette(Paper::Scheme::light);
    EXPECT_EQ(light.cream, QColor::fromRgbF(1.0f, 0.98f, 0.949f));
    EXPECT_EQ(light.accentTint, Paper::palette(Paper::Scheme::dark).accentTint);
    EXPECT_NEAR(light.accentTint.alphaF(), 0.08, 0.005);
    EXPECT_EQ(light.dangerTint.rgb(), QColor(0xB0, 0x3A, 0x2E).rgb());
    EXPECT_NEAR(light.dangerTint.alphaF(), 0.10, 0.005);
    EXPECT_EQ(&Paper::palette(Paper::Scheme::light), &light) << "made once and kept";
}

TEST(PaperTest, theDeskGlowsOnlyInTheLightScheme)
{
    QWidget window;
    auto *canvas = new Paper::Canvas(&window);
    canvas->resize(600, 500);
    const QColor lightDesk = Paper::palette(Paper::Scheme::light).desk;

    Paper::applyAppearance(&window, Paper::Appearance::light);
    QImage image = render(canvas);
    EXPECT_GT(QColor(image.pixel(300, 1)).lightness(), lightDesk.lightness() + 10) << "glow under the top edge";
    EXPECT_EQ(QColor(image.pixel(2, 498)), lightDesk) << "beyond 420 points the glow is gone";

    Paper::applyAppearance(&window, Paper::Appearance::dark);
    image = render(canvas);
    EXPECT_EQ(QColor(image.pixel(300, 1)), Paper::palette(Paper::Scheme::dark).desk);
}

TEST(PaperTest, theSheetIsCentredAtMostItsWidthWithItsMargin)
{
    PaperSheet narrow(new QWidget);
    narrow.resize(430, 760);
    narrow.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&narrow));
    EXPECT_EQ(narrow.sheetRect(), QRect(14, 14, 402, 732));
    EXPECT_EQ(narrow.content()->geometry(), narrow.sheetRect());
    narrow.resize(1000, 700);
    EXPECT_EQ(narrow.sheetRect(), QRect(270, 14, 460, 672));
    EXPECT_EQ(narrow.content()->geometry(), narrow.sheetRect());

    PaperSheet wide(new QWidget, true);
    wide.resize(1000, 700);
    EXPECT_EQ(wide.sheetRect(), QRect(140, 28, 720, 644));

    // The paper is drawn with its rounded corners over the desk.
    Paper::applyAppearance(&narrow, Paper::Appearance::light);
    const QImage image = render(&narrow);
    EXPECT_EQ(QColor(image.pixel(500, 300)), Paper::palette(Paper::Scheme::light).paper);
    EXPECT_NE(QColor(image.pixel(271, 15)), Paper::palette(Paper::Scheme::light).paper) << "corner radius 25";
}

TEST(PaperTest, aPressedPrimaryButtonKeepsItsColoursAndFades)
{
    QWidget window;
    Paper::applyAppearance(&window, Paper::Appearance::light);
    auto *button = new PaperButtonStyle("button", "Go", true, &window);
    button->resize(button->sizeHint());
    EXPECT_GE(button->height(), 44);
    const QPoint middle(6, button->height() / 2); // background, left of the label

    const QColor accent = Paper::palette(Paper::Scheme::light).accent;
    const QColor up = QColor::fromRgba(render(button).pixel(middle));
    EXPECT_EQ(up.rgb(), accent.rgb());
    EXPECT_EQ(up.alpha(), 255);

    button->setDown(true);
    const QColor down = QColor::fromRgba(render(button).pixel(middle));
    EXPECT_NEAR(down.alpha(), 0.75 * 255, 2);
    EXPECT_NEAR(QColor::fromRgba(qUnpremultiply(down.rgba())).red(), accent.red(), 2);
}

TEST(PaperTest, aPlainButtonTakesClicksOnItsWholeRoundedRectangleButNotItsCorners)
{
    QWidget window;
    auto *button = new PaperButtonStyle("button", "Backlog", false, &window);
    button->resize(120, 44);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QSignalSpy clicked(button, &QAbstractButton::clicked);
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(3, 22)); // no text there, still the button
    EXPECT_EQ(clicked.count(), 1);
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(1, 1)); // outside the rounded corner
    EXPECT_EQ(clicked.count(), 1);
}

TEST(PaperTest, choicesShareTheirRowEquallyAndAreThirtyEightPointsHigh)
{
    QWidget row;
    auto *layout = new QHBoxLayout(&row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    QList<PaperChoiceStyle *> choices;
    for (const char *label : {"S", "Medium", "A much longer label"}) {
        choices.append(new PaperChoiceStyle(label, label));
        layout->addWidget(choices.last());
    }
    choices[1]->setSelected(true);
    row.resize(300, 60);
    row.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&row));
    for (PaperChoiceStyle *choice : choices) {
        EXPECT_EQ(choice->width(), 100) << qPrintable(choice->text());
        EXPECT_EQ(choice->height(), 38);
    }
}

TEST(PaperTest, aLabelWrapsAndIsCutAfterItsLastAllowedLine)
{
    PaperLabel label("label", Paper::Role::ink, Paper::handwriting(22));
    label.setText(QString("many words in a row ").repeated(10));
    const int line = int(std::ceil(PaperLabel::lineHeight(label.font())));
    EXPECT_EQ(label.heightForWidth(200), line) << "one line unless asked";
    label.setMaxLines(2);
    EXPECT_EQ(label.heightForWidth(200), int(std::ceil(2 * PaperLabel::lineHeight(label.font()))));
    label.setMaxLines(0);
    EXPECT_GT(label.heightForWidth(200), 4 * line);
    EXPECT_EQ(PaperLabel::lineCount("short", label.font(), 200), 1);
    EXPECT_EQ(PaperLabel::lineCount("", label.font(), 200), 1);
    EXPECT_GE(PaperLabel::lineCount(QString(80, QChar('w')), label.font(), 100), 2) << "a long word breaks too";
}

TEST(PaperTest, aShadowFadesOutsideItsShape)
{
    int padding = 0;
    const QImage shadow = Paper::blurredRoundedRect(QSizeF(100, 50), 10, QColor(0, 0, 0, 255), 17, 1.0, &padding);
    ASSERT_FALSE(shadow.isNull());
    EXPECT_EQ(shadow.size(), QSize(100 + 2 * padding, 50 + 2 * padding));
    const int inside = qAlpha(shadow.pixel(padding + 50, padding + 25));
    const int edge = qAlpha(shadow.pixel(padding, padding + 25));
    const int outside = qAlpha(shadow.pixel(1, padding + 25));
    EXPECT_GT(inside, 240);
    EXPECT_GT(inside, edge);
    EXPECT_GT(edge, outside);
    EXPECT_LT(outside, 10);
}

// The shadow is blurred only near its corners and its middle repeated: the pixels are those of blurring it whole,
// whatever the size (fractions included), corner and scale.
TEST(PaperTest, aShadowWithItsMiddleRepeatedIsTheWholeBlur)
{
    const struct
    {
        QSizeF size;
        qreal radius;
        qreal blur;
        qreal scale;
    } cases[] = {
        {{400, 700}, 14, 17, 0.5},  {{400, 700}, 14, 17, 1.0}, {{383.5, 641.25}, 14, 17, 0.5},
        {{120, 90}, 6, 10, 2.0},    {{60, 300}, 30, 17, 1.0},  {{30, 30}, 15, 17, 1.0},
        {{1000, 40}, 0, 4, 1.5},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.size.width() << "x" << c.size.height() << " r" << c.radius << " b"
                                        << c.blur << " @" << c.scale);
        const QColor color(20, 10, 0, 40);
        const QImage fast = Paper::blurredRoundedRect(c.size, c.radius, color, c.blur, c.scale, nullptr);
        const QImage whole =
            Paper::blurredRoundedRect(c.size, c.radius, color, c.blur, c.scale, nullptr, Paper::Blur::everyPixel);
        ASSERT_EQ(fast.size(), whole.size());
        int differing = 0;
        for (int y = 0; y < whole.height(); ++y) {
            for (int x = 0; x < whole.width(); ++x)
                differing += fast.pixel(x, y) != whole.pixel(x, y);
        }
        EXPECT_EQ(differing, 0);
    }
}

// Letters the handwriting lacks come from a face scaled to the handwriting's x-height, not one that looks far
// larger; a right-to-left title starts at the right.
TEST(PaperTest, scriptsTheHandwritingLacksMatchItsSizeAndRightToLeftAlignsRight)
{
    const QFont handwriting = Paper::handwriting(30);
    const qreal xHeight = QFontMetricsF(handwriting).xHeight();
    for (const QString &title : {QStringLiteral("Book the dentist"), QStringLiteral("Zahnarzt anrufen: 12 Uhr")})
        EXPECT_EQ(Paper::fittingFont(handwriting, title), handwriting) << title.toStdString();
    for (const QString &title : {QStringLiteral("احجز موعد طبيب الأسنان"), QStringLiteral("预约牙医 at 9")}) {
        const QFont shown = Paper::fittingFont(handwriting, title);
        EXPECT_NE(shown.family(), handwriting.family()) << title.toStdString();
        EXPECT_NEAR(QFontMetricsF(shown).xHeight(), xHeight, 1.5) << title.toStdString();
    }
    const QFont system = Paper::systemFont(13);
    EXPECT_EQ(Paper::fittingFont(system, QStringLiteral("预约")), system) << "only the handwriting is replaced";

    PaperLabel label("label", Paper::Role::ink, handwriting);
    label.resize(400, 40);
    label.setText(" ");
    const QImage blank = label.grab().toImage();
    const auto inkedColumns = [&](const QString &text) {
        label.setText(text);
        const QImage image = label.grab().toImage();
        int first = image.width(), last = -1;
        for (int x = 0; x < image.width(); ++x) {
            for (int y = 0; y < image.height(); ++y) {
                if (image.pixel(x, y) != blank.pixel(x, y)) {
                    first = std::min(first, x);
                    last = x;
                }
            }
        }
        return std::pair(first, last);
    };
    EXPECT_LT(inkedColumns(QStringLiteral("Book the dentist")).first, 10);
    const auto [first, last] = inkedColumns(QStringLiteral("احجز موعد"));
    EXPECT_GT(first, 200);
    EXPECT_GT(last, 390);
}

#include "Vellora/Paper/Paper.h"
#include "Vellora/Paper/PaperAccessible.h"
#include "Vellora/Paper/PaperChoiceStyle.h"
#include "Vellora/Paper/PaperLabel.h"

#include <QAccessibleActionInterface>
#include <QFontInfo>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

// Letters the handwriting lacks come from a face scaled to the handwriting's x-height, not one that looks far
// larger; a right-to-left title starts at the right.
TEST(PaperTest, scriptsTheHandwritingLacksMatchItsSizeAndRightToLeftAlignsRight)
{
    const QFont handwriting = Paper::handwriting(30);
    EXPECT_EQ(QFontInfo(handwriting).family(), "Caveat"); // loaded from the program
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

// A screen reader reads a label by its text, with the role its page gives it, and a choice as a radio button that
// is checked exactly while it is selected, and chosen by its press action.
TEST(PaperTest, labelsAndChoicesReadAsTheyShow)
{
    PaperLabel label("label", Paper::Role::muted, Paper::systemFont(13));
    label.setText("3 items");
    QAccessibleInterface *read = QAccessible::queryAccessibleInterface(&label);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->role(), QAccessible::StaticText);
    EXPECT_EQ(read->text(QAccessible::Name), "3 items");
    label.setText("4 items");
    EXPECT_EQ(read->text(QAccessible::Name), "4 items");
    PaperAccessible::setRole(&label, QAccessible::Heading);
    EXPECT_EQ(read->role(), QAccessible::Heading);

    PaperChoiceStyle small("settings.size.s", "Small", false), large("settings.size.l", "Large", true);
    QSignalSpy chosen(&small, &QAbstractButton::clicked);
    QAccessibleInterface *smallRead = QAccessible::queryAccessibleInterface(&small);
    QAccessibleInterface *largeRead = QAccessible::queryAccessibleInterface(&large);
    ASSERT_TRUE(smallRead && largeRead);
    EXPECT_EQ(smallRead->role(), QAccessible::RadioButton);
    EXPECT_EQ(smallRead->text(QAccessible::Name), "Small");
    for (const bool smallSelected : {false, true}) {
        small.setSelected(smallSelected);
        large.setSelected(!smallSelected);
        EXPECT_TRUE(smallRead->state().checkable);
        EXPECT_EQ(smallRead->state().checked, smallSelected);
        EXPECT_EQ(largeRead->state().checked, !smallSelected);
    }
    ASSERT_TRUE(smallRead->actionInterface());
    smallRead->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(chosen.size(), 1);
}

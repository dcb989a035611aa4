#pragma once

#include "Vellora/DayData/Block.h"

#include <QColor>
#include <QEasingCurve>
#include <QFont>
#include <QPalette>
#include <QString>

#include <array>
#include <optional>

class QWidget;

// The shared vocabulary of the paper look: the user's text size and appearance, the palette, the fonts and the
// sizes that follow from them. Every page takes its colours, fonts and sizes from here.
namespace Paper {

// The size of item text, chosen by the user.
enum class TextSize { small, medium, large };
inline constexpr std::array<TextSize, 3> kAllTextSizes{TextSize::small, TextSize::medium, TextSize::large};

QString storedForm(TextSize size);
std::optional<TextSize> textSizeFromStoredForm(const QString &raw);
QString label(TextSize size);

// Light, dark, or whatever the system uses ("auto", a keyword in C++, hence `automatic`).
enum class Appearance { automatic, light, dark };
inline constexpr std::array<Appearance, 3> kAllAppearances{Appearance::automatic, Appearance::light, Appearance::dark};

QString storedForm(Appearance appearance);
std::optional<Appearance> appearanceFromStoredForm(const QString &raw);
QString label(Appearance appearance);

// Sizes in points (device-independent pixels).
int fontSize(Block block, TextSize size);  // "Caveat" size of an item's text in a block
int rowHeight(Block block, TextSize size); // minimum height of a row in a block
int emptyFontSize(TextSize size);          // the Backlog's "Nothing here"
int previewFontSize(TextSize size);        // the Settings page's preview line

// The light/dark colour scheme a widget is drawn in.
enum class Scheme { light, dark };

// Follows the widget's effective palette, which a forced appearance sets on its window (applyAppearance).
Scheme schemeOf(const QWidget *widget);

enum class Role { ink, inkSoft, muted, faint, accent, paper, rule, desk, cream, accentTint, dangerTint, danger };

struct Palette
{
    QColor ink;        // main text, page titles
    QColor inkSoft;    // item text in the small block
    QColor muted;      // section headers, labels, status lines
    QColor faint;      // done or unavailable item text
    QColor accent;     // buttons, selected choices, badges
    QColor paper;      // the sheet of paper
    QColor rule;       // ruled lines, borders of unselected choices
    QColor desk;       // the desk behind the sheet
    QColor cream;      // text and marks on the accent
    QColor accentTint; // hover and highlight wash
    QColor dangerTint; // wash behind a row swiped towards deletion
    QColor danger;     // the sign of a swipe that deletes

    QColor operator[](Role role) const;
};

// Made once on first use and kept for the whole run.
const Palette &palette(Scheme scheme);
inline const Palette &palette(const QWidget *widget)
{
    return palette(schemeOf(widget));
}
inline QColor color(Role role, const QWidget *widget)
{
    return palette(widget)[role];
}

// A Qt palette in the paper colours, so that the platform's own parts (text cursor, menus) match the scheme.
QPalette qtPalette(Scheme scheme);
// Forces the appearance of a window and everything in it; `automatic` follows the system again.
void applyAppearance(QWidget *window, Appearance appearance);
// Menus, tooltips and dialogs are windows of their own that take the application's palette for their kind rather
// than their window's: this gives them the scheme's colours. The application's own palette stays the desktop's,
// which is what the `auto` appearance reads.
void applySchemeToPopups(Scheme scheme);

// The handwriting family for item text, loaded from the program's resources on first use.
QString handwritingFamily();
QFont handwriting(int pixelSize);
inline QFont itemFont(Block block, TextSize size)
{
    return handwriting(fontSize(block, size));
}
// The font to show the text in: the given one, unless it is the handwriting and the text holds letters the
// handwriting lacks (Chinese, Arabic…). Those come from a face that would look much larger at the same size, so it
// is scaled to the handwriting's x-height.
QFont fittingFont(const QFont &font, const QString &text);
// The system font at a size and weight, with optional letter tracking.
QFont systemFont(int pixelSize, QFont::Weight weight = QFont::Normal, qreal tracking = 0);
// The page titles: a serif design at 30 points, medium weight, tracking -1.2.
QFont titleFont();

// One switch for every animation of the look; tests and screenshots turn them off.
void setAnimationsEnabled(bool enabled);
bool animationsEnabled();
// The ease-out timing of spring-backs.
QEasingCurve easeOut();

} // namespace Paper

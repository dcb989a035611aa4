#pragma once

#include <QtGlobal>

// The numbers of the paper look, in points (device-independent pixels). Widgets read them from here rather
// than keeping literal numbers of their own.
namespace Paper {

// A text of a few lines shows at most this many characters: only they are ever measured or laid out.
inline constexpr int kLabelTextLimit = 4000;

// The sheet of paper on the desk.
inline constexpr int kSheetMaxWidth = 460;
inline constexpr int kSheetMaxWidthWide = 720;
inline constexpr int kSheetMargin = 14;
inline constexpr int kSheetMarginWide = 28;
inline constexpr int kSheetRadius = 25;
inline constexpr qreal kSheetShadowOpacity = 0.1;
inline constexpr qreal kSheetShadowBlur = 17;
inline constexpr int kSheetShadowOffsetY = 8;

// The desk's glow in the light scheme.
inline constexpr qreal kGlowRadius = 420;
inline constexpr qreal kGlowOpacity = 0.28;

// A page inside the sheet.
inline constexpr int kPagePaddingH = 22;
inline constexpr int kPagePaddingTop = 24;
inline constexpr int kPagePaddingBottom = 15;
inline constexpr int kHeaderSpacing = 18;
inline constexpr int kHeaderGap = 21; // below the header
inline constexpr int kTitleStackSpacing = 7;
inline constexpr int kDateTopPadding = 5;
inline constexpr int kFooterGap = 12; // above the footer
inline constexpr int kFooterSpacing = 4;

// Texts of the pages.
inline constexpr int kTitleSize = 30;
inline constexpr qreal kTitleTracking = -1.2;
inline constexpr int kStatusSize = 13;
inline constexpr int kHeadingSize = 11;
inline constexpr qreal kHeadingTracking = 2.8;
inline constexpr int kNoteSize = 12;

// The blocks of the Today sheet.
inline constexpr int kBlockSpacing = 14;
inline constexpr int kHeadingPaddingBottom = 6;
inline constexpr int kHeadingPaddingLeft = 2;

// The Backlog button's count badge.
inline constexpr int kBadgeSpacing = 6;
inline constexpr int kBadgeSize = 18;
inline constexpr int kBadgeRadius = 5;
inline constexpr int kBadgeFontSize = 10;
inline constexpr int kGearSize = 16;

// A row of the sheet.
inline constexpr int kRowSpacing = 8;
inline constexpr int kRowPaddingH = 2;
inline constexpr int kRuleHeight = 1;
inline constexpr int kRowHighlightRadius = 8;
inline constexpr int kStepControlSize = 12;
inline constexpr int kDeleteControlSize = 18;
inline constexpr int kControlPadding = 3; // around a control's glyph, so that it is easier to hit
inline constexpr int kFieldMaxLines = 2;
inline constexpr int kFieldMaxLength = 1000;  // characters a row's field takes
inline constexpr int kTitleMaxLines = 3;      // a row's title is cut with "…" after these
inline constexpr int kSmallTitleMaxLines = 2; // in the Small block
inline constexpr qreal kLiftScale = 1.02;
inline constexpr qreal kLiftShadowOpacity = 0.18;
inline constexpr qreal kLiftShadowBlur = 10;
inline constexpr int kLiftShadowOffsetY = 4;
inline constexpr int kSwipeThreshold = 60; // past it a swipe ticks or deletes
inline constexpr int kDragThreshold = 8;   // a drag starts after this far
inline constexpr int kClickSlop = 4;       // a press that moves less and is released is a click
inline constexpr int kSpringBackMs = 180;

// A scroll area that holds more than it shows: a fade at each edge with more beyond, and a thin bar while it
// scrolls.
inline constexpr int kScrollFadeHeight = 24;
inline constexpr qreal kScrollBarWidth = 4;
inline constexpr qreal kScrollBarInset = 2;
inline constexpr qreal kScrollBarMinLength = 24;
inline constexpr qreal kScrollBarOpacity = 0.55;
inline constexpr int kScrollBarShownMs = 900;

// Where the window is too short for the spec's sizes, the rows give up their room around the handwriting (never the
// handwriting itself) down to this much above and below it, and the blocks come this close.
inline constexpr int kRowTightPadding = 4;
inline constexpr int kBlockSpacingTight = 6;
// The page's own margins where it is short of room, and the sheet's margin to the window's top and bottom edges.
inline constexpr int kPagePaddingTopTight = 12;
inline constexpr int kPagePaddingBottomTight = 8;
inline constexpr int kHeaderGapTight = 10;
inline constexpr int kFooterGapTight = 6;
inline constexpr int kSheetMarginTight = 6;

// The window: its width, and the room its frame and title bar take on the screen beside what Qt knows.
inline constexpr int kWindowWidth = 430;
inline constexpr int kWindowFrameAllowance = 30;

// The Backlog page.
inline constexpr int kNoteGap = 8;
inline constexpr int kEmptyGap = 28;
inline constexpr int kBacklogTitleMaxLines = 2;
inline constexpr int kBringControlSize = 15;
inline constexpr qreal kUnavailableOpacity = 0.45;

// The notes at the foot of the window.
inline constexpr int kNotesSpacing = 4;
inline constexpr int kNotesPaddingH = 24;
inline constexpr int kNotesPaddingV = 6;
inline constexpr int kNoteMs = 5000; // how long a note about a change just made stays

// Buttons.
inline constexpr int kButtonFontSize = 14;
inline constexpr int kButtonPaddingH = 13;
inline constexpr int kButtonMinHeight = 44;
inline constexpr int kButtonRadius = 13;
inline constexpr qreal kButtonShadowOpacity = 0.17;
inline constexpr qreal kButtonShadowBlur = 6;
inline constexpr int kButtonShadowOffsetY = 4;
inline constexpr qreal kPressedOpacity = 0.75;

// The ring around the control that has the keyboard focus: a soft pencil line in the accent, off the control's
// edge so that it never covers the text.
inline constexpr qreal kFocusRingWidth = 2;
inline constexpr qreal kFocusRingOpacity = 0.6;
inline constexpr qreal kFocusRingInset = 1;
inline constexpr int kControlHighlightRadius = 5; // the wash behind a row control under the pointer
inline constexpr int kChoiceFontSize = 13;
inline constexpr int kChoiceHeight = 38;
inline constexpr int kChoiceRadius = 11;
inline constexpr qreal kChoiceBorderWidth = 1;

// The Settings page.
inline constexpr int kSectionSpacing = 18;      // between sections
inline constexpr int kSectionSpacingTight = 10; // where the window is too short for them all
inline constexpr int kSectionPartSpacing = 8;   // between the parts of a section
inline constexpr int kLastSectionPartSpacing = 10;
inline constexpr int kPreviewHeight = 51; // the largest preview size, 35, plus 16: the same at every size
inline constexpr int kChoiceSpacing = 6;
inline constexpr int kSettingsTextSize = 13;
inline constexpr int kSettingsNoteSize = 11;
inline constexpr int kSwitchRowMinGap = 12; // between a row's title and its switch

// The on/off switch.
inline constexpr int kSwitchWidth = 38;
inline constexpr int kSwitchHeight = 22;
inline constexpr int kSwitchKnobInset = 2;
inline constexpr qreal kSwitchKnobShadowOpacity = 0.25;
inline constexpr int kSwitchMs = 140;

// The small dialogs of the app (About, an address that could not be opened).
inline constexpr int kDialogPadding = 24;
inline constexpr int kDialogSpacing = 10;
inline constexpr int kDialogWidth = 360;
inline constexpr int kDialogTextSize = 13;
inline constexpr int kDialogNoteSize = 11;
inline constexpr int kAboutIconSize = 64;

// The signs a row shows while a swipe is past its threshold, and the mark where a moved row will land.
inline constexpr int kSwipeSignSize = 13;
inline constexpr int kSwipeSignPaddingH = 8;
inline constexpr int kSwipeSignPaddingV = 4;
inline constexpr qreal kLandingMarkWidth = 2;
inline constexpr qreal kLandingMarkDash = 4;

} // namespace Paper

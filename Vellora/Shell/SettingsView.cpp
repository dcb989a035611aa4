#include "Vellora/Shell/SettingsView.h"

#include "Vellora/Sheet/UndoHistory.h"

#include "Vellora/DayData/DayStore.h"
#include "Vellora/Paper/Metrics.h"
#include "Vellora/Paper/PaperAccessible.h"
#include "Vellora/Paper/PaperButtonStyle.h"
#include "Vellora/Paper/PaperChoiceStyle.h"
#include "Vellora/Paper/PaperLabel.h"
#include "Vellora/Paper/PaperSwitch.h"
#include "Vellora/Paper/ScrollHint.h"
#include "Vellora/Shell/AppSettings.h"
#include "Vellora/Shell/SyncSection.h"
#include "Vellora/Shell/ToggleShortcut.h"

#include "GlobalShortcuts/Recorder.h"

#include <QBoxLayout>
#include <QEvent>
#include <QScrollArea>

namespace {

QFont settingsFont()
{
    return Paper::systemFont(Paper::kSettingsTextSize);
}

// A text that wraps onto as many lines as it needs: its layout lets it grow to the height its width asks for.
void wrapWithoutLimit(PaperLabel *label)
{
    label->setMaxLines(0);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    policy.setHeightForWidth(true);
    label->setSizePolicy(policy);
}

// A row of choices, grouped under the name of what is chosen: a screen reader says it on entering the row.
QHBoxLayout *addChoiceGroup(QVBoxLayout *section, const QString &name, QWidget *page)
{
    auto *group = new QWidget(page);
    PaperAccessible::setRole(group, QAccessible::Grouping);
    group->setAccessibleName(name);
    auto *choices = new QHBoxLayout(group);
    choices->setContentsMargins(0, 0, 0, 0);
    choices->setSpacing(Paper::kChoiceSpacing);
    section->addWidget(group);
    return choices;
}

} // namespace

SettingsView::SettingsView(DayStore &store, AppSettings &settings, const ShortcutControlFactory &makeShortcutControl,
                           QWidget *parent)
    : QWidget(parent), m_store(store), m_settings(settings)
{
    setObjectName(QStringLiteral("settings"));
    setAccessibleName(QStringLiteral("Settings"));
    auto *page = new QVBoxLayout(this);
    page->setContentsMargins(Paper::kPagePaddingH, Paper::kPagePaddingTop, Paper::kPagePaddingH,
                             Paper::kPagePaddingBottom);
    page->setSpacing(0);

    auto *title = new PaperLabel(QStringLiteral("settings.title"), Paper::Role::ink, Paper::titleFont(), this);
    title->setText(QStringLiteral("Settings"));
    PaperAccessible::setRole(title, QAccessible::Heading);
    page->addWidget(title);
    page->addSpacing(Paper::kHeaderGap);

    auto *content = new QWidget;
    content->setObjectName(QStringLiteral("settings.sections"));
    auto *sections = new QVBoxLayout(content);
    sections->setContentsMargins(0, 0, 0, 0);
    sections->setSpacing(Paper::kSectionSpacing);
    buildTextSizeSection(sections);
    buildAppearanceSection(sections);
    buildNewDaySection(sections);
    buildWindowSection(sections, makeShortcutControl);
    sections->addStretch();
    m_sections = sections;

    m_scroll = new QScrollArea(this);
    m_scroll->setObjectName(QStringLiteral("settings.scroll"));
    m_scroll->setFocusPolicy(Qt::NoFocus); // the controls take the keyboard; an unnamed stop would only be in the way
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setWidgetResizable(true);
    m_scroll->setWidget(content);
    m_scroll->viewport()->setAutoFillBackground(false);
    content->setAutoFillBackground(false);
    // The sections are fitted again when the view's size or their own height changes (a note shown or hidden).
    m_scroll->viewport()->installEventFilter(this);
    content->installEventFilter(this);
    new ScrollHint(m_scroll);
    page->addWidget(m_scroll, 1);

    page->addSpacing(Paper::kFooterGap);
    auto *close = new PaperButtonStyle(QStringLiteral("settings.close"), QStringLiteral("Today →"), false, this);
    close->setAccessibleName(QStringLiteral("Today"));
    connect(close, &QAbstractButton::clicked, this, &SettingsView::closeRequested);
    auto *footer = new QHBoxLayout;
    footer->addStretch();
    footer->addWidget(close, 0, Qt::AlignVCenter);
    page->addLayout(footer);

    connect(&m_settings, &AppSettings::textSizeChanged, this, &SettingsView::showTextSize);
    connect(&m_settings, &AppSettings::appearanceChanged, this, &SettingsView::showAppearance);
    connect(&m_settings, &AppSettings::loginItemNoteChanged, this, &SettingsView::showLoginNote);
    showTextSize();
    showAppearance();
    showLoginNote();
    showShortcutNote();
}

void SettingsView::addSyncSection(AppSync &sync)
{
    // Before the stretch that keeps the sections at the top.
    auto *section = new QVBoxLayout;
    section->setSpacing(Paper::kSectionPartSpacing);
    m_sections->insertLayout(m_sections->count() - 1, section);
    auto *header = new PaperLabel(QString(), Paper::Role::muted,
                                  Paper::systemFont(Paper::kHeadingSize, QFont::Bold, Paper::kHeadingTracking));
    header->setText(QStringLiteral("SYNC"));
    PaperAccessible::setRole(header, QAccessible::Heading);
    section->addWidget(header);
    section->addWidget(new SyncSection(sync, this));
}

QVBoxLayout *SettingsView::addSection(QVBoxLayout *sections, const QString &header, int spacing)
{
    auto *section = new QVBoxLayout;
    section->setSpacing(spacing);
    auto *label = new PaperLabel(QString(), Paper::Role::muted,
                                 Paper::systemFont(Paper::kHeadingSize, QFont::Bold, Paper::kHeadingTracking));
    label->setText(header);
    PaperAccessible::setRole(label, QAccessible::Heading);
    section->addWidget(label);
    sections->addLayout(section);
    return section;
}

void SettingsView::buildTextSizeSection(QVBoxLayout *sections)
{
    QVBoxLayout *section = addSection(sections, QStringLiteral("TEXT SIZE"), Paper::kSectionPartSpacing);
    m_preview = new PaperLabel(QStringLiteral("settings.preview"), Paper::Role::ink, QFont(), this);
    m_preview->setText(QStringLiteral("Sample line"));
    m_preview->setAlignment(Qt::AlignHCenter);
    // As high as the largest size needs, whatever the size: choosing another size does not move the page.
    m_preview->setFixedHeight(Paper::kPreviewHeight);
    m_preview->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    section->addWidget(m_preview);

    QHBoxLayout *choices = addChoiceGroup(section, QStringLiteral("Text size"), this);
    for (size_t i = 0; i < Paper::kAllTextSizes.size(); ++i) {
        const Paper::TextSize size = Paper::kAllTextSizes[i];
        auto *choice = new PaperChoiceStyle(QStringLiteral("settings.size.") + Paper::storedForm(size),
                                            Paper::label(size), false, this);
        connect(choice, &QAbstractButton::clicked, this, [this, size] { m_settings.setTextSize(size); });
        m_sizeChoices[i] = choice;
        choices->addWidget(choice);
    }
}

void SettingsView::buildAppearanceSection(QVBoxLayout *sections)
{
    QVBoxLayout *section = addSection(sections, QStringLiteral("APPEARANCE"), Paper::kSectionPartSpacing);
    QHBoxLayout *choices = addChoiceGroup(section, QStringLiteral("Appearance"), this);
    for (size_t i = 0; i < Paper::kAllAppearances.size(); ++i) {
        const Paper::Appearance appearance = Paper::kAllAppearances[i];
        auto *choice = new PaperChoiceStyle(QStringLiteral("settings.appearance.") + Paper::storedForm(appearance),
                                            Paper::label(appearance), false, this);
        connect(choice, &QAbstractButton::clicked, this, [this, appearance] { m_settings.setAppearance(appearance); });
        m_appearanceChoices[i] = choice;
        choices->addWidget(choice);
    }
}

void SettingsView::buildNewDaySection(QVBoxLayout *sections)
{
    QVBoxLayout *section = addSection(sections, QStringLiteral("NEW DAY"), Paper::kSectionPartSpacing);
    auto *explanation = new PaperLabel(QString(), Paper::Role::muted, settingsFont(), this);
    explanation->setText(
        QStringLiteral("Start the day with a clean sheet: unfinished items move to Backlog, done ones are dropped."));
    wrapWithoutLimit(explanation);
    section->addWidget(explanation);

    auto *newDay =
        new PaperButtonStyle(QStringLiteral("settings.newDay"), QStringLiteral("Start a new day"), true, this);
    newDay->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    // At once and without asking; the page stays open.
    connect(newDay, &QAbstractButton::clicked, this, [this] {
        const auto start = [this] { m_store.startNewDay(m_clock ? m_clock() : QDateTime::currentDateTime()); };
        if (m_history)
            m_history->record(UndoHistory::Kind::newDay, start);
        else
            start();
    });
    section->addWidget(newDay);
}

PaperLabel *SettingsView::rowTitle(const QString &text)
{
    auto *title = new PaperLabel(QString(), Paper::Role::ink, settingsFont(), this);
    title->setText(text);
    return title;
}

PaperSwitch *SettingsView::addSwitchRow(QBoxLayout *section, const QString &title, const QString &identifier,
                                        bool (AppSettings::*read)() const, void (AppSettings::*write)(bool),
                                        void (AppSettings::*changed)(bool))
{
    auto *control = new PaperSwitch(identifier, this);
    control->setAccessibleName(title);
    control->setChecked((m_settings.*read)());
    // Only the user's flip writes the setting; the setting's own changes (a failed login change falling back)
    // only move the switch.
    connect(control, &QAbstractButton::clicked, &m_settings, write);
    connect(&m_settings, changed, control, [control](bool on) { control->setChecked(on); });

    auto *row = new QHBoxLayout;
    row->setSpacing(0);
    row->addWidget(rowTitle(title), 0, Qt::AlignVCenter);
    row->addSpacerItem(new QSpacerItem(Paper::kSwitchRowMinGap, 0, QSizePolicy::Expanding, QSizePolicy::Minimum));
    row->addWidget(control, 0, Qt::AlignVCenter);
    section->addLayout(row);
    return control;
}

void SettingsView::buildWindowSection(QVBoxLayout *sections, const ShortcutControlFactory &makeShortcutControl)
{
    QVBoxLayout *section = addSection(sections, QStringLiteral("WINDOW"), Paper::kLastSectionPartSpacing);
    addSwitchRow(section, QStringLiteral("Show in taskbar"), QStringLiteral("settings.dock"), &AppSettings::showTaskbarEntry,
                 &AppSettings::setShowTaskbarEntry, &AppSettings::showTaskbarEntryChanged);
    addSwitchRow(section, QStringLiteral("Show icon in the system tray"), QStringLiteral("settings.menuBar"),
                 &AppSettings::showTrayIcon, &AppSettings::setShowTrayIcon, &AppSettings::showTrayIconChanged);
    // With neither, a minimised window has no entry to click: say how it can still be reached.
    m_reachNote = new PaperLabel(QStringLiteral("settings.reachNote"), Paper::Role::muted,
                                 Paper::systemFont(Paper::kSettingsNoteSize), this);
    m_reachNote->setText(QStringLiteral("With neither, bring the window back with the global shortcut, by starting "
                                        "Vellora again, or with “vellora toggle”."));
    wrapWithoutLimit(m_reachNote);
    section->addWidget(m_reachNote);
    auto showReachNote = [this] { m_reachNote->setVisible(!m_settings.showTaskbarEntry() && !m_settings.showTrayIcon()); };
    connect(&m_settings, &AppSettings::showTaskbarEntryChanged, this, showReachNote);
    connect(&m_settings, &AppSettings::showTrayIconChanged, this, showReachNote);
    showReachNote();
    addSwitchRow(section, QStringLiteral("Launch at login"), QStringLiteral("settings.login"),
                 &AppSettings::openAtLogin, &AppSettings::setOpenAtLogin, &AppSettings::openAtLoginChanged);

    QWidget *shortcut = nullptr;
    if (makeShortcutControl) {
        shortcut = makeShortcutControl();
    } else {
        auto *recorder = new GlobalShortcuts::Recorder(ToggleShortcut::name());
        recorder->field()->setFont(settingsFont());
        shortcut = recorder;
    }
    shortcut->setParent(this);
    shortcut->setObjectName(QStringLiteral("settings.shortcut"));
    shortcut->setAccessibleName(QStringLiteral("Global shortcut"));
    if (auto *recorder = qobject_cast<GlobalShortcuts::Recorder *>(shortcut))
        recorder->field()->setAccessibleName(QStringLiteral("Global shortcut"));
    auto *row = new QHBoxLayout;
    row->setSpacing(0);
    row->addWidget(rowTitle(QStringLiteral("Global shortcut")), 0, Qt::AlignVCenter);
    row->addSpacerItem(new QSpacerItem(Paper::kSwitchRowMinGap, 0, QSizePolicy::Expanding, QSizePolicy::Minimum));
    row->addWidget(shortcut, 0, Qt::AlignVCenter);
    section->addLayout(row);

    m_shortcutNote = new PaperLabel(QStringLiteral("settings.shortcutNote"), Paper::Role::muted,
                                    Paper::systemFont(Paper::kSettingsNoteSize), this);
    wrapWithoutLimit(m_shortcutNote);
    section->addWidget(m_shortcutNote);
    // A recorded combination may be refused by the desktop, or taken back by another application later.
    connect(&GlobalShortcuts::notifier(), &GlobalShortcuts::Notifier::registrationFailed, this,
            &SettingsView::showShortcutNote);
    connect(&GlobalShortcuts::notifier(), &GlobalShortcuts::Notifier::shortcutByNameDidChange, this,
            &SettingsView::showShortcutNote);

    m_loginNote = new PaperLabel(QStringLiteral("settings.loginNote"), Paper::Role::muted,
                                 Paper::systemFont(Paper::kSettingsNoteSize), this);
    // Notes that tell of a failure come unasked: a screen reader reads them as they appear.
    PaperAccessible::setRole(m_shortcutNote, QAccessible::Notification);
    PaperAccessible::setRole(m_loginNote, QAccessible::Notification);
    wrapWithoutLimit(m_loginNote);
    section->addWidget(m_loginNote);

    auto *saveNote = new PaperLabel(QStringLiteral("settings.saveNote"), Paper::Role::muted,
                                    Paper::systemFont(Paper::kSettingsNoteSize), this);
    wrapWithoutLimit(saveNote);
    PaperAccessible::setRole(saveNote, QAccessible::Notification);
    section->addWidget(saveNote);
    auto showSaveNote = [this, saveNote] {
        saveNote->setText(m_settings.saveError().value_or(QString()));
        saveNote->setVisible(m_settings.saveError().has_value());
    };
    connect(&m_settings, &AppSettings::saveErrorChanged, this, showSaveNote);
    showSaveNote();
}

bool SettingsView::eventFilter(QObject *watched, QEvent *event)
{
    if ((watched == m_scroll->viewport() && event->type() == QEvent::Resize) ||
        (watched == m_scroll->widget() && event->type() == QEvent::LayoutRequest))
        fitSections();
    return QWidget::eventFilter(watched, event);
}

void SettingsView::fitSections()
{
    QLayout *content = m_scroll->widget()->layout();
    const int width = m_scroll->viewport()->width();
    const int now = content->hasHeightForWidth() ? content->totalHeightForWidth(width)
                                                 : content->totalSizeHint().height();
    // Measured as it is: setting the spacing only to measure would ask for another layout, and another fitting.
    const int gaps = std::max(0, m_sections->count() - 2); // between the sections, not before the closing stretch
    const int natural = now + (Paper::kSectionSpacing - m_sections->spacing()) * gaps;
    const int wanted = natural > m_scroll->viewport()->height() ? Paper::kSectionSpacingTight : Paper::kSectionSpacing;
    if (m_sections->spacing() != wanted)
        m_sections->setSpacing(wanted);
}

void SettingsView::showTextSize()
{
    const Paper::TextSize size = m_settings.textSize();
    m_preview->setFont(Paper::handwriting(Paper::previewFontSize(size)));
    m_preview->setAccessibleDescription(Paper::label(size)); // the preview's value: the size's name
    for (size_t i = 0; i < m_sizeChoices.size(); ++i)
        m_sizeChoices[i]->setSelected(Paper::kAllTextSizes[i] == size);
}

void SettingsView::showAppearance()
{
    for (size_t i = 0; i < m_appearanceChoices.size(); ++i)
        m_appearanceChoices[i]->setSelected(Paper::kAllAppearances[i] == m_settings.appearance());
}

void SettingsView::showShortcutNote()
{
    const auto note = ToggleShortcut::unavailableNote();
    m_shortcutNote->setText(note.value_or(QString()));
    m_shortcutNote->setVisible(note.has_value());
}

void SettingsView::showLoginNote()
{
    const auto note = m_settings.loginItemNote();
    m_loginNote->setText(note.value_or(QString()));
    m_loginNote->setVisible(note.has_value());
}

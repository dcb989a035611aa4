#include "Vellora/Sheet/NoteBar.h"

#include "Vellora/DayData/DayStore.h"
#include "Vellora/DayData/SheetText.h"
#include "Vellora/Paper/Metrics.h"
#include "Vellora/Paper/PaperAccessible.h"
#include "Vellora/Paper/PaperButtonStyle.h"
#include "Vellora/Paper/PaperLabel.h"
#include "Vellora/Sheet/UndoHistory.h"

#include <QBoxLayout>

NoteBar::NoteBar(DayStore &store, QWidget *parent) : QWidget(parent), m_store(store)
{
    setObjectName(QStringLiteral("notes"));
    m_saveNote = new PaperLabel(QStringLiteral("notes.saved"), Paper::Role::ink,
                                Paper::systemFont(Paper::kNoteSize, QFont::DemiBold), this);
    m_saveNote->setMaxLines(0);
    m_note = new PaperLabel(QStringLiteral("notes.text"), Paper::Role::muted,
                            Paper::systemFont(Paper::kNoteSize, QFont::DemiBold), this);
    m_note->setMaxLines(2);
    // Notes come unasked: a screen reader reads a notification as it appears.
    PaperAccessible::setRole(m_saveNote, QAccessible::Notification);
    PaperAccessible::setRole(m_note, QAccessible::Notification);
    m_action = new PaperButtonStyle(QStringLiteral("notes.action"), QString(), false, this);
    connect(m_action, &QAbstractButton::clicked, this, [this] {
        const auto action = m_onAction;
        hideNote();
        if (action)
            action();
    });

    auto *line = new QHBoxLayout;
    line->setSpacing(Paper::kNotesSpacing);
    line->addWidget(m_note, 1, Qt::AlignVCenter);
    line->addWidget(m_action, 0, Qt::AlignVCenter);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(Paper::kNotesPaddingH, Paper::kNotesPaddingV, Paper::kNotesPaddingH,
                               Paper::kNotesPaddingV);
    layout->setSpacing(Paper::kNotesSpacing);
    layout->addWidget(m_saveNote);
    layout->addLayout(line);

    m_expiry.setObjectName(QStringLiteral("notes.expiry"));
    m_expiry.setParent(this);
    m_expiry.setSingleShot(true);
    m_expiry.setInterval(Paper::kNoteMs);
    connect(&m_expiry, &QTimer::timeout, this, &NoteBar::hideNote);
    connect(&m_store, &DayStore::saveErrorChanged, this, &NoteBar::showSaveError);
    connect(&m_store, &DayStore::overflowSettled, this, &NoteBar::showOverflow);
    m_note->hide();
    m_action->hide();
    showSaveError();
    showOverflow(m_store.overflowAtOpen());
}

void NoteBar::follow(UndoHistory *history)
{
    if (!history)
        return;
    connect(history, &UndoHistory::noted, this, [this, history](const QString &text, bool offersUndo) {
        if (offersUndo)
            showNote(
                text, tr("Undo"), [history] { history->undo(); }, history->undoName());
        else
            showNote(text);
        m_undoes = offersUndo;
    });
    // The button undoes whatever is last now: after an Undo from the menu, its name follows.
    connect(history, &UndoHistory::availabilityChanged, this, [this, history] {
        if (m_undoes && !m_action->isHidden())
            m_action->setAccessibleName(history->undoName());
    });
}

void NoteBar::showNote(const QString &text, const QString &actionText, std::function<void()> action,
                       const QString &actionName, Reading reading)
{
    const bool wasShown = m_note->isVisible();
    m_undoes = false;
    m_note->setText(text);
    m_note->show();
    m_action->setText(actionText);
    m_action->setAccessibleName(actionName);
    m_action->setVisible(!actionText.isEmpty());
    m_onAction = std::move(action);
    m_expiry.start();
    updateShown();
    // Showing a hidden note tells assistive technology by itself; a note that replaces another must say so.
    if (wasShown && reading == Reading::announced)
        PaperAccessible::announce(m_note);
}

void NoteBar::showLastingNote(const QString &text, const QString &actionText, std::function<void()> action,
                              const QString &actionName, Reading reading)
{
    showNote(text, actionText, std::move(action), actionName, reading);
    m_expiry.stop();
}

void NoteBar::hideNote()
{
    m_expiry.stop();
    m_undoes = false;
    m_note->setText(QString());
    m_note->hide();
    m_action->hide();
    m_onAction = nullptr;
    updateShown();
}

QString NoteBar::saveNote() const
{
    return m_saveNote->isHidden() ? QString() : m_saveNote->text();
}

QString NoteBar::note() const
{
    return m_note->isHidden() ? QString() : m_note->text();
}

void NoteBar::showSaveError()
{
    // Stays for as long as the changes live in memory alone; the store keeps trying.
    const std::optional<QString> error = m_store.saveError();
    const QString text = error ? tr("Not saved: %1 \u2014 will retry").arg(*error) : QString();
    const bool changed = m_saveNote->isVisible() && text != m_saveNote->text();
    m_saveNote->setText(text);
    m_saveNote->setVisible(error.has_value());
    updateShown();
    if (changed && error)
        PaperAccessible::announce(m_saveNote);
}

void NoteBar::showOverflow(const QList<DayItem> &moved)
{
    if (moved.isEmpty())
        return;
    QStringList titles;
    for (const DayItem &item : moved)
        titles.append(item.title);
    showNote(overflowText(titles));
}

void NoteBar::updateShown()
{
    setVisible(!m_saveNote->isHidden() || !m_note->isHidden());
}

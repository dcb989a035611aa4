#pragma once

#include "Vellora/DayData/DayItem.h"

#include <QList>
#include <QTimer>
#include <QWidget>

#include <functional>

class DayStore;
class PaperButtonStyle;
class PaperLabel;
class UndoHistory;

// The notes at the foot of the window: a lasting line while the store cannot save its changes, and a short note
// about something just done (a delete, a new day, a full sheet, tasks that sync sent to the Backlog) with a button
// that acts on it, gone after a few seconds. Hidden while it has nothing to say.
class NoteBar : public QWidget
{
    Q_OBJECT

public:
    // A note read out as it appears, or one that only follows what is being typed and was read out already.
    enum class Reading { announced, quiet };

    explicit NoteBar(DayStore &store, QWidget *parent = nullptr);

    // Shows the history's notes, with Undo where they offer it.
    void follow(UndoHistory *history);
    // Replaces the short note; an empty action text shows no button. The button reads to a screen reader as
    // actionName, which says what it acts on, when one is given. A screen reader reads the note as it appears.
    void showNote(const QString &text, const QString &actionText = {}, std::function<void()> action = {},
                  const QString &actionName = {}, Reading reading = Reading::announced);
    // The same, for a note about something still waiting on the person (text typed on a full sheet): it stays until
    // it is hidden or replaced.
    void showLastingNote(const QString &text, const QString &actionText, std::function<void()> action,
                         const QString &actionName = {}, Reading reading = Reading::announced);
    void hideNote();

    QString saveNote() const;
    QString note() const;

private:
    void showSaveError();
    // Items another computer's changes pushed out of their blocks: said once, like any short note.
    void showOverflow(const QList<DayItem> &moved);
    void updateShown();

    DayStore &m_store;
    PaperLabel *m_saveNote = nullptr;
    PaperLabel *m_note = nullptr;
    PaperButtonStyle *m_action = nullptr;
    std::function<void()> m_onAction;
    bool m_undoes = false; // the button is the history's Undo
    QTimer m_expiry;
};

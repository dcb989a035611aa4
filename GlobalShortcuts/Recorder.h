#pragma once

#include "GlobalShortcuts/GlobalShortcuts.h"

#include <QLineEdit>
#include <QStringList>
#include <QWidget>

#include <functional>

class QAction;
class QKeyEvent;
class QPushButton;

namespace GlobalShortcuts {

// A message the recorder shows in an alert; the first button is the default one.
struct Alert
{
    QString message;
    QString informativeText;
    QStringList buttons;
};

// The field in which the user records the shortcut of a name. It looks like a search field: the shortcut in the
// platform's own text ("Ctrl+Shift+D"), a placeholder when empty, a clear button while it holds one. A click starts
// recording; Tab only brings the focus, and Space or Return then start it. The next key combination becomes the
// shortcut after the checks against the menu items of its window (refused) and the desktop's shortcuts (a warning
// with "Use Anyway"). While it records, no global shortcut acts. It draws itself in the colours of its palette
// (base, mid, highlight, placeholder text), so that it takes the look of the window it is in.
class RecorderField : public QLineEdit
{
    Q_OBJECT

public:
    // Shows an alert and returns the index of the chosen button; tests put their own answers here.
    using AlertPresenter = std::function<int(QWidget *window, const Alert &alert)>;

    static constexpr int kMinimumWidth = 130;

    explicit RecorderField(const Name &name, QWidget *parent = nullptr);
    ~RecorderField() override;

    std::optional<Shortcut> shortcut() const { return storedShortcut(m_name); }

    bool isRecording() const { return m_isRecording; }
    // What the field says while it records: "Press a shortcut…", or why the last key was refused.
    QString prompt() const { return m_prompt; }
    // Takes the focus and records.
    void startRecording();
    // Stops recording and gives up the focus.
    void stopRecording();

    // The clear button, for hosts and tests that need to find it.
    QAction *clearAction() const { return m_clearAction; }

    QSize sizeHint() const override;

    static void setAlertPresenter(AlertPresenter presenter);

protected:
    bool event(QEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void refreshText();
    void setPrompt(const QString &prompt);
    // The shortcut, else the prompt while recording, else the placeholder.
    QString shownText() const;
    void preventFocusUntilNextTurn();
    void beginRecording();
    void finishRecording();
    // Returns whether the event is used up; false lets it go on (Tab moves the focus).
    bool handleKeyDown(const QKeyEvent &event);
    void storeAndStop(const std::optional<Shortcut> &shortcut);
    int showAlert(const QString &message, const QString &informativeText, const QStringList &buttons);

    Name m_name;
    QAction *m_clearAction = nullptr;
    bool m_canBecomeKey = false;
    bool m_isRecording = false;
    bool m_resumeAfterAlert = false;
    QString m_prompt;
};

// A name's recorder, the form a settings page places in a row: the field, and under it, for a name with an
// initial shortcut, a button that goes back to it while another shortcut (or none) is stored.
class Recorder : public QWidget
{
    Q_OBJECT

public:
    explicit Recorder(const Name &name, QWidget *parent = nullptr);

    RecorderField *field() const { return m_field; }
    // The "Reset to …" button; null for names without an initial shortcut.
    QPushButton *resetButton() const { return m_resetButton; }

private:
    RecorderField *m_field = nullptr;
    QPushButton *m_resetButton = nullptr;
};

} // namespace GlobalShortcuts

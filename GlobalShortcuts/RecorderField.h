#pragma once

#include "GlobalShortcuts/GlobalShortcuts.h"
#include "GlobalShortcuts/Shortcut.h"

#include <QLineEdit>
#include <QPointer>
#include <QStringList>

#include <functional>
#include <optional>

class QAction;
class QKeyEvent;

namespace GlobalShortcuts {

// The answer of a host's own check of a new shortcut.
struct ValidationResult
{
    bool allowed = true;
    QString reason; // shown to the user when not allowed

    static ValidationResult allow() { return {}; }
    static ValidationResult disallow(const QString &reason) { return {false, reason}; }
};

enum class ConflictBehavior { block, warn, allow };

// What to do when a new shortcut is already in use: block refuses with an alert, warn asks whether to use it
// anyway, allow takes it silently.
struct ConflictPolicy
{
    ConflictBehavior menuItem = ConflictBehavior::block;
    ConflictBehavior systemShortcut = ConflictBehavior::warn;
    ConflictBehavior disallowed = ConflictBehavior::block;
};

// A message the recorder shows in an alert; the first button is the default one.
struct Alert
{
    QString message;
    QString informativeText;
    QStringList buttons;
};

// The field in which the user records a shortcut. It looks like a search field: the shortcut in the platform's
// own text ("Ctrl+Shift+D"), a placeholder when empty, a clear button while it holds one. A click starts recording;
// Tab only brings the focus, and Space or Return then start it. The next key combination becomes the shortcut after
// the checks against the menu items, the desktop's shortcuts and the host's validation. While it records, no global
// shortcut acts. It draws itself in the colours of its palette (base, mid, highlight, placeholder text), so that it
// takes the look of the window it is in.
class RecorderField : public QLineEdit
{
    Q_OBJECT

public:
    enum class StorageMode { name, binding };
    using Validator = std::function<ValidationResult(const Shortcut &)>;
    // Shows an alert and returns the index of the chosen button; tests put their own answers here.
    using AlertPresenter = std::function<int(QWidget *window, const Alert &alert)>;

    static constexpr int kMinimumWidth = 130;

    // Records the stored shortcut of a name.
    explicit RecorderField(const Name &name, QWidget *parent = nullptr);
    // Records into a value the host keeps (shortcut()).
    explicit RecorderField(const std::optional<Shortcut> &binding, QWidget *parent = nullptr);
    ~RecorderField() override;

    StorageMode storageMode() const { return m_storageMode; }
    const Name &shortcutName() const { return m_name; }
    std::optional<Shortcut> shortcut() const;
    // From outside (the stored value or the binding changed): stores it and shows it; no shortcutChanged.
    void setShortcut(const std::optional<Shortcut> &shortcut);

    void setValidateShortcut(Validator validator) { m_validate = std::move(validator); }
    void setConflictPolicy(const ConflictPolicy &policy) { m_conflictPolicy = policy; }
    const ConflictPolicy &conflictPolicy() const { return m_conflictPolicy; }
    // The menu bars and menus whose items' shortcuts a new shortcut may not take. Without any, the menu bar
    // of the field's window is searched.
    void setMenus(const QList<QWidget *> &menus);

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
    QSize minimumSizeHint() const override;

    static void setAlertPresenter(AlertPresenter presenter);
    static void setBeeper(std::function<void()> beeper);
    // The recorder that records now, if any; at most one does.
    static RecorderField *currentRecorder();

signals:
    // After each change made in the field: a recorded shortcut, or none when cleared.
    void shortcutChanged(const std::optional<GlobalShortcuts::Shortcut> &shortcut);

protected:
    bool event(QEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setUp();
    void refreshText();
    void showText(const QString &text);
    void setPrompt(const QString &prompt);
    void preventFocusUntilNextTurn();
    void beginRecording();
    void finishRecording();
    // Returns whether the event is used up; false lets it go on (Tab moves the focus).
    bool handleKeyDown(QKeyEvent *event);
    void clearShortcut();
    void acceptShortcut(const Shortcut &shortcut);
    std::optional<QString> menuItemUsing(const Shortcut &candidate) const;
    bool applyBehavior(ConflictBehavior behavior, const QString &message, const QString &informativeText);
    int showAlert(const QString &message, const QString &informativeText, const QStringList &buttons);

    StorageMode m_storageMode;
    Name m_name;
    std::optional<Shortcut> m_bindingShortcut;
    Validator m_validate;
    ConflictPolicy m_conflictPolicy;
    QList<QPointer<QWidget>> m_menus;
    QAction *m_clearAction = nullptr;
    bool m_canBecomeKey = false;
    bool m_isRecording = false;
    bool m_resumeAfterAlert = false;
    QString m_prompt;
};

} // namespace GlobalShortcuts

Q_DECLARE_METATYPE(std::optional<GlobalShortcuts::Shortcut>)

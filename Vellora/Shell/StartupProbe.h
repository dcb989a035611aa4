#pragma once

#include <QElapsedTimer>
#include <QObject>

class QWidget;

// For start-up measurements: with VELLORA_QUIT_AFTER_FIRST_PAINT set, the app ends right after the first frame of
// its window is painted, and reports on standard error how long that took since `sinceStart` began and how much
// memory the process holds then (VmRSS).
class StartupProbe : public QObject
{
    Q_OBJECT

public:
    static constexpr auto kVariable = "VELLORA_QUIT_AFTER_FIRST_PAINT";

    // Watches the window when the variable is set; does nothing otherwise.
    static void watch(QWidget *window, const QElapsedTimer &sinceStart);
    // The process's resident memory in kB, from /proc/self/status; -1 where there is none.
    static qint64 residentKilobytes();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    StartupProbe(QWidget *window, const QElapsedTimer &sinceStart);

    QWidget *m_window;
    QElapsedTimer m_sinceStart;
    bool m_painted = false;
};

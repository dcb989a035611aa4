#pragma once

#include <QElapsedTimer>

#include <functional>

class QWidget;

// For start-up measurements: with VELLORA_QUIT_AFTER_FIRST_PAINT set, the app reports on standard error, right
// after the first frame of its window is painted, how long that took since `sinceStart` began and how much memory
// the process holds (VmRSS), and then ends by `quit`.
namespace StartupProbe {

inline constexpr auto kVariable = "VELLORA_QUIT_AFTER_FIRST_PAINT";

// Watches the window when the variable is set; does nothing otherwise.
void watch(QWidget *window, const QElapsedTimer &sinceStart, std::function<void()> quit);
// The process's resident memory in kB, from /proc/self/status; -1 where there is none.
qint64 residentKilobytes();

} // namespace StartupProbe

#pragma once

class QWidget;

// For start-up measurements, in benchmark builds only: with VELLORA_QUIT_AFTER_FIRST_PAINT set, the app reports on
// standard error, right after the first frame of its window is painted, how much memory the process holds (VmRSS),
// and ends at once, as bench/PlainWindow.cpp does, so that the two starts are timed alike.
namespace StartupProbe {

inline constexpr auto kVariable = "VELLORA_QUIT_AFTER_FIRST_PAINT";

// Watches the window when the variable is set; does nothing otherwise.
void watch(QWidget *window);

} // namespace StartupProbe

#pragma once

#include <functional>

class QWidget;

// Runs `then` once, on the event loop, right after the window has painted its first frame: for work that the user
// need not wait for before seeing the window.
void afterFirstFrame(QWidget *window, std::function<void()> then);

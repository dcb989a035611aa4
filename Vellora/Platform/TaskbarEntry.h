#pragma once

#include <memory>

class QWindow;

// Whether the app shows among the running applications (the taskbar and the window switcher's pager on Linux).
// The choice is kept and applied to the main window now and whenever it is shown again.
class TaskbarEntry
{
public:
    virtual ~TaskbarEntry() = default;

    virtual void setShownInTaskbar(bool shown) = 0;
    // The main window; null forgets it. The window must outlive this object or be set to null first.
    virtual void setWindow(QWindow *window) = 0;
};

// The presence of the platform this build is for; it does nothing where the platform has no such policy.
std::unique_ptr<TaskbarEntry> makeTaskbarEntry();

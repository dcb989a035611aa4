#include "Vellora/Platform/TaskbarEntry.h"

namespace {

class NoTaskbarEntry : public TaskbarEntry
{
public:
    void setShownInTaskbar(bool shown) override { m_shown = shown; }
    bool isShownInDock() const override { return m_shown; }
    void setWindow(QWindow *) override {}

private:
    bool m_shown = true;
};

} // namespace

std::unique_ptr<TaskbarEntry> makeTaskbarEntry()
{
    return std::make_unique<NoTaskbarEntry>();
}

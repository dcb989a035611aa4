#include "Vellora/Platform/TaskbarEntry.h"

namespace {

class NoTaskbarEntry : public TaskbarEntry
{
public:
    void setShownInTaskbar(bool) override {}
    void setWindow(QWindow *) override {}
};

} // namespace

std::unique_ptr<TaskbarEntry> makeTaskbarEntry()
{
    return std::make_unique<NoTaskbarEntry>();
}

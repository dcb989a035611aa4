#include "Vellora/Platform/DockPresence.h"

namespace {

class NoDockPresence : public DockPresence
{
public:
    void setShownInDock(bool shown) override { m_shown = shown; }
    bool isShownInDock() const override { return m_shown; }
    void setWindow(QWindow *) override {}

private:
    bool m_shown = true;
};

} // namespace

std::unique_ptr<DockPresence> makeDockPresence()
{
    return std::make_unique<NoDockPresence>();
}

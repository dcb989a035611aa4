#pragma once

#include "SyncKit/SyncEngine.h"

namespace SyncKit {

// Marks the engine as running its own code. When the outermost piece ends, a changed state is reported once.
class SyncEngine::Work
{
public:
    explicit Work(SyncEngine &engine) : m_engine(engine) { ++m_engine.m_depth; }
    ~Work()
    {
        if (--m_engine.m_depth == 0)
            m_engine.flushStateUpdate();
    }
    Work(const Work &) = delete;
    Work &operator=(const Work &) = delete;

private:
    SyncEngine &m_engine;
};

} // namespace SyncKit

#include "SyncKit/SyncEngine.h"

namespace SyncKit {

SyncEngine::SyncEngine(Configuration configuration, QObject *parent)
    : QObject(parent)
    , m_configuration(std::move(configuration))
{
    if (m_configuration.stateSerialization) {
        if (auto state = State::fromSerialization(*m_configuration.stateSerialization))
            m_state = std::move(*state);
    }
}

SyncEngine::~SyncEngine() = default;

} // namespace SyncKit

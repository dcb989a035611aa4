#pragma once

#include "SyncKit/SyncEngineState.h"

#include <QObject>

#include <optional>

namespace SyncKit {

class CloudDatabase;
class SyncEngineDelegate;

// Carries records between a local store and a cloud database. It keeps the queue of changes to send in its
// state; the store adds to that queue after every change.
class SyncEngine : public QObject
{
    Q_OBJECT

public:
    using State = SyncEngineState;

    struct Configuration
    {
        CloudDatabase *database = nullptr;
        std::optional<State::Serialization> stateSerialization;
        SyncEngineDelegate *delegate = nullptr;
    };

    explicit SyncEngine(Configuration configuration, QObject *parent = nullptr);
    ~SyncEngine() override;

    State &state() { return m_state; }
    const State &state() const { return m_state; }

private:
    Configuration m_configuration;
    State m_state;
};

} // namespace SyncKit

#pragma once

#include "SyncKit/RecordZoneChangeBatch.h"
#include "SyncKit/SyncEngineEvent.h"

#include <optional>

namespace SyncKit {

class SyncEngine;

// The local side of a sync engine: it applies what the engine reports and says what to send. The engine calls
// it on the main thread, never while another of its calls is running.
class SyncEngineDelegate
{
public:
    virtual ~SyncEngineDelegate() = default;

    virtual void handleEvent(const SyncEngineEvent &event, SyncEngine &engine) = 0;
    // The next changes to send, or none when nothing is left.
    virtual std::optional<RecordZoneChangeBatch> nextRecordZoneChangeBatch(const SendChangesContext &context,
                                                                          SyncEngine &engine) = 0;
};

} // namespace SyncKit

#include "Vellora/WindowEntry.h"
#include "cli/SyncCommands.h"

#include <QtGlobal>

// The entry point of the network module, which the vellora program loads only for `sync` and `account`.
extern "C" Q_DECL_EXPORT int vellora_run_network(const Command *command)
{
    return runNetworkCommand(*command);
}

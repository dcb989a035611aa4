#pragma once

#include "Vellora/Commands/Command.h"

// `vellora sync` and `vellora account …`: the commands that talk to the sync server. They live in the network
// module, which the vellora program loads only for them. Needs the application object; gives the exit code.
int runNetworkCommand(const Command &command);

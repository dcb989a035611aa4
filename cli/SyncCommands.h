#pragma once

#include "Vellora/Commands/Command.h"

// `vellora sync` and `vellora account …`: the commands that talk to the sync server. They live in the network
// module, which the vellora program loads only for them. Needs the application object; gives the exit code.
int runNetworkCommand(const Command &command);

// The `sync` command that a change made on the store file hands over, to send it at once when signed in.
inline constexpr auto kSendAfterEdit = "after-edit";

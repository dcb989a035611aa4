#pragma once

#include "Vellora/Commands/Command.h"

#include <QString>

#include <functional>
#include <optional>

// Shows the window for a command without subcommand and gives the exit code. It is called before any
// application object exists, so that it can make the one the window needs.
using WindowHost = std::function<int(const Command &command)>;

// Runs `sync` and `account`, which need the network: in a module of their own, so that other commands never load
// its libraries. Called with the application object made.
using NetworkHost = std::function<int(const Command &command)>;

// The `vellora` program: a subcommand runs on the store and exits; no subcommand opens the window through the
// host, or prints Today when there is none.
int runCommandLine(int argc, char **argv, const WindowHost &openWindow = {}, const NetworkHost &runNetwork = {});

// Where the store file of a command is: its --store FILE, or the user's data folder; none when there is no folder.
std::optional<QString> storePathFor(const Command &command);

// The lock file that keeps two writers of one store file apart.
QString lockPathFor(const QString &storePath);

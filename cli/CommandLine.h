#pragma once

#include "Vellora/Commands/Command.h"

#include <QString>

#include <cstdio>

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

// Writes text for a person, with the control characters of titles shown as escapes.
void print(FILE *stream, const QString &text);
// Says why a command failed on standard error and gives its exit status.
int fail(const QString &message, int code = 1);

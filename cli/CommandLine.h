#pragma once

#include "Vellora/DayData/DayStore.h"
#include "cli/Command.h"

#include <QLockFile>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

// Shows the window for a command without subcommand and gives the exit code. It is called before any
// application object exists, so that it can make the one the window needs.
using WindowHost = std::function<int(const Command &command)>;

// The `vellora` program: a subcommand runs on the store and exits; no subcommand opens the window through the
// host, or prints Today when there is none.
int runCommandLine(int argc, char **argv, const WindowHost &openWindow = {});

// The store a window works on.
struct WindowStore
{
    std::unique_ptr<QLockFile> lock; // held while the window runs, so that the command line never writes between
    std::unique_ptr<DayStore> store; // none when it cannot be had; `error` says why
    QString error;
    QString notice; // something the user should know, such as an unreadable file that was kept aside
};

// The real store file under its lock, or with "-uitests" an empty store in memory that reads and writes no file.
WindowStore openWindowStore(const Command &command);

// The lock file that keeps two writers of one store file apart.
QString lockPathFor(const QString &storePath);

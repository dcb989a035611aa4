#pragma once

#include <QString>

#include <optional>

// The `vellora` program: a subcommand runs on the store and exits; no subcommand opens the window.
int runCommandLine(int argc, char **argv);

// The lock file that keeps two writers of one store file apart.
QString lockPathFor(const QString &storePath);

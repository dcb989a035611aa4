#pragma once

#include <QElapsedTimer>

struct Command;

// The window lives in a module of its own, loaded only when the window opens: a command-line call then never
// loads the graphics libraries.
using WindowEntry = int (*)(int argc, char **argv, const Command *command, const QElapsedTimer *sinceStart);

inline constexpr auto kWindowEntryName = "vellora_run_window";
inline constexpr auto kWindowModuleName = "libvellora_window.so";

// `sync` and `account` live in a module of their own too: only they load the network libraries.
using NetworkEntry = int (*)(const Command *command);

inline constexpr auto kNetworkEntryName = "vellora_run_network";
inline constexpr auto kNetworkModuleName = "libvellora_network.so";

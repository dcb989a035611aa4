#pragma once

struct Command;

// The window and the commands that talk to the sync server (`sync`, `account`) live in one module, loaded only for
// them: every other command runs without the graphics and network libraries. Its one exported function runs a
// command. For the window it makes the application object from `argc` and `argv`, which must outlive it; `sync` and
// `account` run on the application object the program has made.
using ModuleEntry = int (*)(int *argc, char **argv, const Command *command);

inline constexpr auto kModuleEntryName = "vellora_module_run";
inline constexpr auto kModuleName = "libvellora_module.so";

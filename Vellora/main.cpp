#include "Vellora/ModuleEntry.h"
#include "cli/CommandLine.h"

#include <QByteArray>

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <exception>
#include <string>

namespace {

// The folder of this program, from the kernel rather than argv[0], which may be a bare name found in PATH.
std::string programFolder()
{
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return ".";
    const std::string program(path, size_t(length));
    return program.substr(0, program.rfind('/'));
}

// The module: beside the program in a build, under the library folder once installed. Its calls into the libraries
// are bound when first made, not all at once when it is opened: a command or the window's first frame makes few
// of them. (A library without a function the module calls would show at that call instead of here.)
ModuleEntry loadModule(const char *purpose)
{
    const std::string folder = programFolder();
    std::string error;
    for (const std::string &candidate :
         {folder + "/" + kModuleName, folder + "/../" VELLORA_LIBDIR "/vellora/" + kModuleName}) {
        if (void *module = dlopen(candidate.c_str(), RTLD_LAZY | RTLD_LOCAL)) {
            if (void *symbol = dlsym(module, kModuleEntryName))
                return reinterpret_cast<ModuleEntry>(symbol);
        }
        if (error.empty() || access(candidate.c_str(), F_OK) == 0)
            error = dlerror();
    }
    std::fprintf(stderr, "vellora: %s: %s\n", purpose, error.c_str());
    return nullptr;
}

// Whether a window can be shown at all: without a display (a login over ssh) the command line shows the sheet
// as text instead of failing to start the window.
bool hasDisplay()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

} // namespace

int main(int argc, char **argv)
{
    const WindowHost openWindow = [&argc, argv](const Command &command) {
        const ModuleEntry run = loadModule("the window cannot be opened");
        return run ? run(&argc, argv, &command) : 1;
    };
    const NetworkHost runNetwork = [&argc, argv](const Command &command) {
        const ModuleEntry run = loadModule("the sync commands cannot be loaded");
        return run ? run(&argc, argv, &command) : 1;
    };
    // What cannot go on (no memory, no thread to be had) is said in words, never left to end the program unseen.
    try {
        return runCommandLine(argc, argv, hasDisplay() ? openWindow : WindowHost(), runNetwork);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "vellora: %s\n", error.what());
        return 1;
    }
}

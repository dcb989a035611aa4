#include "Vellora/Sheet/SheetWindow.h"
#include "cli/CommandLine.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    return runCommandLine(argc, argv, [&argc, argv](const Command &command) {
        QApplication app(argc, argv);
        const WindowStore opened = openWindowStore(command);
        if (!opened.notice.isEmpty())
            std::fprintf(stderr, "vellora: %s\n", qPrintable(opened.notice));
        if (!opened.store) {
            std::fprintf(stderr, "vellora: %s\n", qPrintable(opened.error));
            return 1;
        }
        return runSheetWindow(*opened.store);
    });
}

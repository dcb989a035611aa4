#pragma once

#include "Vellora/Paper/Paper.h"

#include <QDir>
#include <QWidget>

#include <cstdio>

namespace Screenshots {

// Once the application exists: turns animations off and gives the folder named on the command line ("screenshots"
// when none), made when missing.
inline QString folder(int argc, char **argv)
{
    Paper::setAnimationsEnabled(false);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots");
    QDir().mkpath(folder);
    return folder;
}

// Grabs the widget into a PNG file and says on standard output whether that went well.
inline bool save(QWidget &widget, const QString &file)
{
    const bool saved = widget.grab().save(file);
    std::printf("%s %s\n", saved ? "wrote" : "FAILED", qPrintable(file));
    return saved;
}

} // namespace Screenshots

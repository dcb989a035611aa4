#include "Cloud/CloudCommand.h"

#include <QCoreApplication>

#include <sys/stat.h>

int main(int argc, char **argv)
{
    // The database, its journal and everything else the server makes is its owner's alone.
    umask(077);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vellora-cloud"));
    return Cloud::runCloudCommand(app.arguments().mid(1));
}

#pragma once

#include <QStringList>

namespace Cloud {

// The vellora-cloud command line: serve, and the administration of users and tokens. Returns the exit status.
int runCloudCommand(const QStringList &arguments);

} // namespace Cloud

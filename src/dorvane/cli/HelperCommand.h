#pragma once

#include <QStringList>

namespace dorvane {

// `dorvane helper status [--json] | install | remove`: the privileged helper
// tool's job on the volume. install and remove need root; run by another
// user they go through pkexec, which asks for an administrator's password.
int runHelperCommand(const QStringList &arguments);

} // namespace dorvane

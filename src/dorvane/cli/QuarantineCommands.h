#pragma once

#include <QStringList>

namespace dorvane {

// `dorvane undo [RUN-ID] [--json] [--yes]`: puts back what an uninstall run
// removed (the newest run by default). Asks first on standard error; without
// --yes the answer is "Cancel" and nothing moves (ExitNotConfirmed).
// ExitSomeFailed when anything of the run stays in the quarantine.
int runUndoCommand(const QStringList &arguments);

// `dorvane quarantine list [--json]` and
// `dorvane quarantine empty [RUN-ID|--all] [--yes]`: the runs the
// quarantine keeps, and removing them for good.
int runQuarantineCommand(const QStringList &arguments);

} // namespace dorvane

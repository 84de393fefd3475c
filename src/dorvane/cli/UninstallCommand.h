#pragma once

#include <QStringList>

namespace dorvane {

// `dorvane uninstall ID... [--json] [--yes]`: the window's uninstall without
// a window, for fleets. It prints the plan and asks the confirmation on
// standard error; unless --yes agrees, the answer is "Cancel" and nothing is
// removed (ExitNotConfirmed). With --yes it installs the helper tool when
// needed, carries the plan out, and prints what is gone, what is still
// there and the log file (ExitSomeFailed when anything planned is left).
int runUninstallCommand(const QStringList &arguments);

// `dorvane forget ID... [--yes]`: forgets the packages' receipts and leaves
// their files, as the system's own receipt tool does.
int runForgetCommand(const QStringList &arguments);

} // namespace dorvane

#pragma once

#include <QStringList>

namespace dorvane {

// The command line `dorvane`, for scripts and administrators. It never waits
// for a person: questions go to standard error and take the answer that
// changes nothing unless --yes was given. It ends with one of the codes of
// dorvane/cli/ExitCode.h, whatever the command.
class CommandLineTool
{
public:
    int run(const QStringList &arguments);
};

} // namespace dorvane

#pragma once

#include <QStringList>

namespace dorvane {

// The command line `dorvane`, for scripts and administrators. It never waits
// for a person: questions go to standard error and take the answer that
// changes nothing unless --yes was given. The exit code says whether the
// work was done.
class CommandLineTool
{
public:
    enum ExitCode { Success = 0, Failure = 1, UsageError = 2 };

    int run(const QStringList &arguments);
};

} // namespace dorvane

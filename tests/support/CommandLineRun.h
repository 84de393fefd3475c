#pragma once

#include <QProcess>

// One run of the command-line tool on a volume: its exit code (-1 when it
// crashed or did not end within a minute) and what it wrote.
struct CommandLineRun
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

inline CommandLineRun runCommandLine(const QString &root, const QString &home, const QStringList &arguments)
{
    QProcess process;
    process.start(DORVANE_CLI, QStringList{"--root", root, "--home", home} + arguments);
    CommandLineRun run;
    if (!process.waitForFinished(60000))
        return run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

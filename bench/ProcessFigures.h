#pragma once

// What a benchmark measures of its own process.

#include <QFile>

#include <ctime>

// The process's peak resident memory (VmHWM) in MiB, or -1 where the
// kernel does not tell.
inline double peakMiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return -1;
}

// Processor seconds of this process, every thread counted: unlike the wall
// clock, not inflated when other work shares the machine.
inline double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

#pragma once

#include "kestrum/Format.h"

namespace kestrum {

// System-log levels the program uses.
enum LogLevel : int { LogError = 3, LogWarning = 4, LogInfo = 6 };

// Writes the message to the system log at `level` and keeps it in the user
// defaults, in a ring of the ten latest messages of that level under
// "kestrum_asl_lev<level>_pos<0..9>". The positions restart at 0 with every
// process.
void asl_NSLog(int level, const QString &message);

template<typename... Args>
void asl_NSLog(int level, const char *format, const Args &...args)
{
    asl_NSLog(level, makeString(format, args...));
}

// The user-defaults key of one slot of the ring.
QString logRingKey(int level, int position);

} // namespace kestrum

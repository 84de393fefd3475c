#pragma once

#include <QString>

namespace helpertool {

// Log levels of the system log, as the Mac numbers them.
enum LogLevel { LogError = 3, LogWarning = 4, LogInfo = 6 };

// One line to the system log under the helper's label, and the same line to
// standard error, which whoever started the tool may keep or drop.
void toolLog(LogLevel level, const QString &message);

} // namespace helpertool

#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace platform {

// The system log: syslog(3) with the macOS level numbers (3 error,
// 4 warning, 6 informational) and the application's name as identifier.
namespace SystemLog {

void write(int level, const QString &identifier, const QString &message);

// Messages whose sender contains `sender` (case-insensitive), oldest first,
// from the journal. Empty when no journal can be searched; nullopt when the
// sender is empty, the one query that cannot be built.
std::optional<QStringList> messagesFromSender(const QString &sender);

} // namespace SystemLog
} // namespace platform

#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace kestrum {

// Runs a tool of this machine and gives back what it wrote. The first element
// is the tool's path, used as it stands (no search along PATH, and no volume
// mapping: tools run on the host); the rest are its arguments. Standard output
// and standard error share one pipe, so the text of both arrives interleaved in
// the order written; standard input is /dev/null; the environment and working
// folder are the caller's.
//
// Blocks the calling thread until the pipe reaches its end (the tool and any
// child still holding the pipe are done) and the tool has exited. There is no
// time-out: the tools run this way (the process lister, the protection-status
// query, a preference-daemon restart) finish on their own, and a half-read
// answer would be worse than a late one; callers that must stay responsive
// call from a background thread.
//
// std::nullopt when the list is empty, the tool cannot be started, or its
// output is not valid UTF-8. terminationStatus, when given, is written only
// when the tool ran: its exit status, or the number of the signal that ended it.
std::optional<QString> runAsTask(const QStringList &launchPathAndArguments, qint64 *terminationStatus = nullptr);

} // namespace kestrum

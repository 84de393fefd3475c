#pragma once

#include "helperwire/HelperRequest.h"

#include <QString>

#include <optional>

namespace helper {

// Carries out one request on the volume and gives the reply text: for
// delete and kill a compact JSON object of the items that did not go and
// why ("{}" when all went), for forget a sentence. Logs every item.
class RequestRunner
{
public:
    // The reply to a message, or nothing when the message is no request
    // that can be answered and the connection must end. `caller` names the
    // client in the log lines.
    std::optional<QString> answer(const helperwire::Message &message, const QString &caller) const;

    QString run(const helperwire::HelperRequest &request, const QString &caller) const;

private:
    QString removePaths(const helperwire::HelperRequest &request, const QString &caller) const;
    QString killProcesses(const helperwire::HelperRequest &request, const QString &caller) const;
    QString forgetReceipt(const QString &identifier, const QString &caller) const;
};

} // namespace helper

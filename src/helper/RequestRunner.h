#pragma once

#include "Quarantine.h"
#include "ReceiptAuthority.h"
#include "dorvane/rules/RemovalRules.h"
#include "helperwire/HelperReply.h"
#include "helperwire/HelperRequest.h"

#include <QString>

#include <optional>

namespace helpertool {

// Carries out one request on the volume, as far as the volume's own
// receipts justify it for the packages the request names (RemovalRules):
// every item is checked, and one that no receipt justifies is refused with
// the rule's reason, whoever asks. Gives the typed reply and logs every
// refusal and failure. One request at a time.
class RequestRunner
{
public:
    // The reply to a message, or nothing when the message is no request
    // that can be answered and the connection must end. `caller` names the
    // client in the log lines.
    std::optional<QString> answer(const helperwire::Message &message, const QString &caller);

    helperwire::Reply run(const helperwire::HelperRequest &request, const QString &caller);

private:
    helperwire::Reply removePaths(const helperwire::HelperRequest &request, const dorvane::RemovalRules &rules);
    helperwire::Reply removeEmptyFolders(const helperwire::HelperRequest &request, const dorvane::RemovalRules &rules);
    helperwire::Reply killProcesses(const helperwire::HelperRequest &request, const dorvane::RemovalRules &rules) const;
    helperwire::Reply forgetReceipt(const helperwire::HelperRequest &request, const dorvane::RemovalRules &rules,
                                    const dorvane::Catalogue &catalogue);
    // Removes the items for good, or moves them into the request's run.
    QList<helperwire::ItemOutcome> takeAway(const helperwire::HelperRequest &request,
                                            const QList<platform::LogicalPath> &paths, const QStringList &sent,
                                            platform::Volume::Reach reach, QuarantineRecord::Kind kind);

    ReceiptAuthority m_authority;
    Quarantine m_quarantine;
};

} // namespace helpertool

#pragma once

#include "helperwire/HelperLabel.h"
#include "helperwire/HelperReply.h"
#include "platform/LogicalPath.h"

// Where a quarantine run keeps its items and manifest, shared by the code
// that keeps and the code that gives back.
namespace helpertool::quarantine {

inline platform::LogicalPath runFolder(const QString &run)
{
    return helperwire::quarantinePath().child(run);
}

inline platform::LogicalPath itemsFolder(const QString &run)
{
    return runFolder(run).child(u"items");
}

inline platform::LogicalPath manifestPath(const QString &run)
{
    return runFolder(run).child(u"manifest");
}

inline helperwire::ItemOutcome outcome(const QString &item, helperwire::ItemOutcome::Kind kind,
                                       const QString &reason = QString(), int error = 0)
{
    return {item, kind, reason, error};
}

} // namespace helpertool::quarantine

#pragma once

#include "helperwire/HelperLabel.h"
#include "helperwire/HelperReply.h"
#include "platform/LogicalPath.h"
#include "platform/Volume.h"

// Where a quarantine run keeps its items and manifest, shared by the code
// that keeps and the code that gives back.
namespace helpertool::quarantine {

using helperwire::ItemOutcome;
using platform::Follow;
using platform::LogicalPath;
using platform::Volume;
using Kind = ItemOutcome::Kind;
using Type = platform::ItemStatus::Type;

inline LogicalPath runFolder(const QString &run)
{
    return helperwire::quarantinePath().child(run);
}

inline LogicalPath itemsFolder(const QString &run)
{
    return runFolder(run).child(u"items");
}

inline LogicalPath manifestPath(const QString &run)
{
    return runFolder(run).child(u"manifest");
}

inline ItemOutcome outcome(const QString &item, Kind kind, const QString &reason = QString(), int error = 0)
{
    return {item, kind, reason, error};
}

} // namespace helpertool::quarantine

#pragma once

#include "platform/LogicalPath.h"

#include <QList>
#include <QString>
#include <QVariantMap>

#include <optional>

namespace platform {

// The system's daemon jobs as the Mac's launchd keeps them: one property
// list per job in "/Library/LaunchDaemons" on the volume, named by the
// job's label. This part only reads them; installing and removing a job
// is the helper installer's.
namespace ServiceManagement {

// The folder of the jobs' property lists.
LogicalPath launchDaemonsFolder();   // "/Library/LaunchDaemons" of the process's volume

// The job with this label, or nothing when it is not installed (or its
// property list is unreadable or no dictionary).
std::optional<QVariantMap> copyJobDictionary(const QString &label);

// Every job's dictionary that has a "Label", in name order.
QList<QVariantMap> copyAllJobDictionaries();

} // namespace ServiceManagement
} // namespace platform

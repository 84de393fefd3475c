#pragma once

#include "SeededRandom.h"
#include "VolumeBuilder.h"

namespace volumegen {

// Shorthands for describing the demo's packages: one random sequence for
// all sizes and dates, in the fixed order in which the packages are added.
class DemoKit
{
public:
    DemoKit(VolumeBuilder &builder, quint32 seed) : builder(builder), random(seed) {}

    VolumeBuilder &builder;
    SeededRandom random;

    Package receipt(const QString &identifier, const QString &version,
                        Package::Location location = Package::System);
    QDateTime installDate();

    PathItem file(const QString &path, quint64 low, quint64 high);
    PathItem executable(const QString &path, quint64 low, quint64 high);
    static PathItem text(const QString &path, const QByteArray &contents);
    // A launchd job's property list for a daemon or agent.
    static PathItem launchdJob(const QString &path, const QString &label, const QString &program);
    // Files named from a list, all in one folder (the folder listed first).
    QList<PathItem> folderOf(const QString &folder, const QStringList &names, quint64 low, quint64 high);
};

} // namespace volumegen

#include "platform/ServiceManagement.h"

#include "platform/PropertyList.h"
#include "platform/ReadLimits.h"
#include "platform/Volume.h"

namespace platform::ServiceManagement {

namespace {

std::optional<QVariantMap> readJob(const LogicalPath &path)
{
    const std::optional<QByteArray> data = Volume::readFile(path, ReadLimit::kJob);
    if (!data)
        return std::nullopt;
    const QVariant job = PropertyList::fromData(*data);
    if (job.typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    return job.toMap();
}

} // namespace

QString launchDaemonsFolder()
{
    return QStringLiteral("/Library/LaunchDaemons");
}

std::optional<QVariantMap> copyJobDictionary(const QString &label)
{
    // A label with a "/" would name a file in another folder.
    if (label.isEmpty() || label.contains(QLatin1Char('/')) || label.startsWith(QLatin1Char('.')))
        return std::nullopt;
    return readJob(LogicalPath::make(launchDaemonsFolder()).child(label + QStringLiteral(".plist")));
}

QList<QVariantMap> copyAllJobDictionaries()
{
    const LogicalPath folder = LogicalPath::make(launchDaemonsFolder());
    QStringList names = Volume::list(folder).value_or(QStringList());
    names.sort();
    QList<QVariantMap> jobs;
    for (const QString &name : std::as_const(names)) {
        if (!name.endsWith(QLatin1String(".plist")))
            continue;
        const std::optional<QVariantMap> job = readJob(folder.child(name));
        if (job && job->value(QStringLiteral("Label")).typeId() == QMetaType::QString)
            jobs.append(*job);
    }
    return jobs;
}

} // namespace platform::ServiceManagement

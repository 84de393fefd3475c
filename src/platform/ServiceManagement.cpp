#include "platform/ServiceManagement.h"

#include "platform/PropertyList.h"
#include "platform/ReadLimits.h"
#include "platform/Volume.h"

namespace platform::ServiceManagement {

LogicalPath launchDaemonsFolder()
{
    return Volume::current()->top().child(u"Library/LaunchDaemons");
}

std::optional<QVariantMap> copyJobDictionary(const QString &label)
{
    // A label with a "/" would name a file in another folder.
    if (label.isEmpty() || label.contains(QLatin1Char('/')) || label.startsWith(QLatin1Char('.')))
        return std::nullopt;
    return PropertyList::readDictionary(launchDaemonsFolder().child(label + QStringLiteral(".plist")),
                                        ReadLimit::kJob);
}

QList<QVariantMap> copyAllJobDictionaries()
{
    const LogicalPath folder = launchDaemonsFolder();
    QStringList names = Volume::current()->list(folder).value_or(QStringList());
    names.sort();
    QList<QVariantMap> jobs;
    for (const QString &name : std::as_const(names)) {
        if (!name.endsWith(QLatin1String(".plist")))
            continue;
        const std::optional<QVariantMap> job = PropertyList::readDictionary(folder.child(name), ReadLimit::kJob);
        if (job && job->value(QStringLiteral("Label")).typeId() == QMetaType::QString)
            jobs.append(*job);
    }
    return jobs;
}

} // namespace platform::ServiceManagement

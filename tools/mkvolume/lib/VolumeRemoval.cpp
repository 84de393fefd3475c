#include "VolumeRemoval.h"

#include "ImmutableFlag.h"
#include "VolumeBuilder.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

namespace volumegen {

namespace {

bool fail(QString *error, const QString &message)
{
    if (error)
        *error = message;
    return false;
}

} // namespace

bool removeVolume(const QString &physicalRoot, QString *error)
{
    const QFileInfo info(physicalRoot);
    if (physicalRoot.isEmpty() || info.canonicalFilePath() == QLatin1String("/"))
        return fail(error, QStringLiteral("refusing to remove the machine's own root"));
    if (!info.exists() && !info.isSymLink())
        return true;
    if (info.isSymLink() || !info.isDir())
        return fail(error, QStringLiteral("%1 is not a folder").arg(physicalRoot));
    QDir dir(physicalRoot);
    const QDir::Filters all = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
    if (!dir.isEmpty(all) && !QFileInfo::exists(dir.filePath(VolumeBuilder::markerName())))
        return fail(error, QStringLiteral("%1 is not a volume made by mkvolume (it has no %2)")
                               .arg(physicalRoot, VolumeBuilder::markerName()));

    // The common case has nothing protected and goes in one pass; what is
    // left after it is what the immutable flag held, usually a handful of
    // items, so only those are walked.
    if (dir.removeRecursively())
        return true;
    ImmutableFlag::set(dir.absolutePath(), false);
    QDirIterator it(dir.absolutePath(), all, QDirIterator::Subdirectories);
    while (it.hasNext())
        ImmutableFlag::set(it.next(), false);   // links and others just say no
    if (dir.removeRecursively())
        return true;
    return fail(error, QStringLiteral("%1 could not be removed completely (an immutable item needs root to clear)")
                           .arg(physicalRoot));
}

} // namespace volumegen

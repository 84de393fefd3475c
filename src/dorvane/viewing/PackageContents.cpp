#include "dorvane/viewing/PackageContents.h"

#include "kestrum/FileSystem.h"
#include "kestrum/Format.h"

namespace dorvane {

PackageContents PackageContents::gather(const QList<PackageRecord> &selection, const Catalogue &catalogue,
                                        const ProgressFunction &progress)
{
    PackageContents contents;
    for (const PackageRecord &record : selection) {
        const QStringList files = catalogue.filesForPackage(record.packageIdentifier());
        for (const QString &path : files) {
            contents.rows.append({path, kestrum::fileExists(path)});
            if (progress)
                progress(kestrum::makeString("Adding file: %@", path));
        }
        if (record.isDamaged())
            contents.anyDamaged = true;
    }
    return contents;
}

} // namespace dorvane

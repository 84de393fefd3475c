#include "dorvane/catalogue/PackageFilter.h"

#include "dorvane/catalogue/PackageSize.h"
#include "kestrum/Format.h"

namespace dorvane {

bool PackageFilter::passes(const PackageRecord &record, const Catalogue &catalogue, Mode mode,
                           const QString &searchText)
{
    const QString identifier = record.packageIdentifier();
    switch (mode) {
    case Mode::None:
        return false;
    case Mode::All:
        break;
    case Mode::Applications:
        if (!catalogue.applicationPackageIdentifiers.contains(identifier))
            return false;
        break;
    case Mode::Defunct:
        if (!catalogue.defunctappPackageIdentifiers.contains(identifier))
            return false;
        break;
    }
    if (searchText.isEmpty())
        return true;
    // The text is taken as typed: not trimmed, not split into words.
    return record.packageFileName().contains(searchText, Qt::CaseInsensitive)
           || identifier.contains(searchText, Qt::CaseInsensitive);
}

QList<PackageRecord> PackageFilter::filter(const Catalogue &catalogue, Mode mode, const QString &searchText)
{
    QList<PackageRecord> shown;
    for (const PackageRecord &record : catalogue.installerPackages) {
        if (passes(record, catalogue, mode, searchText))
            shown.append(record);
    }
    return shown;
}

QString PackageFilter::statistics(const QList<PackageRecord> &shown)
{
    double total = 0;
    for (const PackageRecord &record : shown)
        total += PackageSize::shownMegabytes(record.installBytes().value_or(0));
    return kestrum::makeString("%lu Packages  %.1f MB", quint64(shown.size()), total);
}

} // namespace dorvane

#pragma once

#include "dorvane/catalogue/CatalogueScanner.h"
#include "support/FixturePackages.h"
#include "support/VolumeFixture.h"

#include <algorithm>

// A fixture volume with the builder that fills it. The builder is a member,
// so it goes before the volume's folder does.
class BuiltVolume : public VolumeFixture
{
public:
    explicit BuiltVolume(const QString &home = QStringLiteral("/Users/tester"))
        : VolumeFixture(home)
        , builder(root(), VolumeFixture::home())
    {
    }

    // Writes the receipts and scans the volume as the window does; an empty
    // catalogue when the scan has nothing to list.
    dorvane::Catalogue scan(const QList<volumegen::Package> &packages,
                            const QString &damagedIcon = QStringLiteral("minus.png"),
                            const dorvane::CatalogueScanner::ProgressFunction &progress = {},
                            const dorvane::CatalogueScanner::BatchAdded &batchAdded = {})
    {
        writeReceipts(builder, packages);
        return dorvane::CatalogueScanner::scan(damagedIcon, progress, batchAdded).value_or(dorvane::Catalogue());
    }

    volumegen::VolumeBuilder builder;
};

// The record with this identifier, or null.
inline const dorvane::PackageRecord *findRecord(const QList<dorvane::PackageRecord> &records,
                                                const QString &identifier)
{
    const auto found = std::find_if(records.cbegin(), records.cend(), [&](const dorvane::PackageRecord &record) {
        return record.packageIdentifier() == identifier;
    });
    return found == records.cend() ? nullptr : &*found;
}

// The records with these identifiers, in this order; one not found is left out.
inline QList<dorvane::PackageRecord> recordsNamed(const QList<dorvane::PackageRecord> &records,
                                                  const QStringList &identifiers)
{
    QList<dorvane::PackageRecord> named;
    for (const QString &identifier : identifiers) {
        if (const dorvane::PackageRecord *record = findRecord(records, identifier))
            named.append(*record);
    }
    return named;
}

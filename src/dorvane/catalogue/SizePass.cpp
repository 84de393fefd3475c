#include "dorvane/catalogue/SizePass.h"

#include "dorvane/catalogue/PackageSize.h"
#include "kestrum/Dispatch.h"

#include <QPointer>
#include <QtConcurrent/QtConcurrentMap>

namespace dorvane {

namespace {

quint64 sizeOf(const PackageRecord &record, const Catalogue &catalogue)
{
    return PackageSize::bytes(record, catalogue.filesForPackage(record.packageIdentifier()));
}

} // namespace

SizePass::SizePass(QObject *parent)
    : QObject(parent)
    , m_generation(std::make_shared<std::atomic<int>>(0))
{
}

SizePass::~SizePass()
{
    m_generation->fetch_add(1);
}

void SizePass::start(const Catalogue &catalogue)
{
    const int generation = m_generation->fetch_add(1) + 1;
    const std::shared_ptr<std::atomic<int>> current = m_generation;
    const QList<PackageRecord> packages = catalogue.installerPackages;
    const Catalogue files = catalogue;
    // The background side looks at the generation only; the pass object is
    // looked at on the main thread, where it is destroyed.
    const QPointer<SizePass> self(this);
    kestrum::dispatch_async_back([self, current, generation, packages, files] {
        const auto stillCurrent = [self, current, generation] { return self && current->load() == generation; };
        for (const PackageRecord &record : packages) {
            if (current->load() != generation)
                return;
            const quint64 bytes = sizeOf(record, files);
            kestrum::dispatch_async_main([self, stillCurrent, record, bytes] {
                if (!stillCurrent())
                    return;
                record.setInstallBytes(bytes);
                Q_EMIT self->packageSized(record.packageIdentifier());
            });
        }
        kestrum::dispatch_async_main([self, stillCurrent] {
            if (stillCurrent())
                Q_EMIT self->finished();
        });
    });
}

void SizePass::sizeAll(const Catalogue &catalogue)
{
    // Packages are measured side by side on the pool; the records are filled
    // in afterwards, on this thread.
    const QList<quint64> sizes = QtConcurrent::blockingMapped(
        catalogue.installerPackages, [&catalogue](const PackageRecord &record) { return sizeOf(record, catalogue); });
    for (qsizetype i = 0; i < sizes.size(); ++i)
        catalogue.installerPackages.at(i).setInstallBytes(sizes.at(i));
}

} // namespace dorvane

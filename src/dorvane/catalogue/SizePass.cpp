#include "dorvane/catalogue/SizePass.h"

#include "dorvane/catalogue/PackageSize.h"
#include "kestrum/Dispatch.h"

#include <QPointer>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentMap>
#include <QtConcurrent/QtConcurrentRun>

namespace dorvane {

namespace {

quint64 sizeOf(const PackageRecord &record, const Catalogue &catalogue)
{
    return PackageSize::bytes(record, catalogue);
}

// Measures side by side on a pool of its own: the caller may itself be a
// thread of the global pool, and waiting there for the global pool's other
// threads can wait for ever when they wait too (a scan running meanwhile).
QList<quint64> measure(const QList<PackageRecord> &packages, const Catalogue &catalogue)
{
    QThreadPool pool;
    return QtConcurrent::blockingMapped(&pool, packages,
                                        [&catalogue](const PackageRecord &record) { return sizeOf(record, catalogue); });
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
        // A few packages at a time are measured side by side on the pool and
        // handed over in list order, so the list fills in from the top.
        constexpr qsizetype kBatch = 8;
        for (qsizetype start = 0; start < packages.size(); start += kBatch) {
            if (current->load() != generation)
                return;
            const QList<PackageRecord> batch = packages.mid(start, kBatch);
            const QList<quint64> sizes = measure(batch, files);
            kestrum::dispatch_async_main([self, stillCurrent, batch, sizes] {
                if (!stillCurrent())
                    return;
                for (qsizetype i = 0; i < batch.size(); ++i) {
                    batch.at(i).setInstallBytes(sizes.at(i));
                    Q_EMIT self->packageSized(batch.at(i).packageIdentifier());
                }
            });
        }
        kestrum::dispatch_async_main([self, stillCurrent] {
            if (stillCurrent())
                Q_EMIT self->finished();
        });
    });
}

SizesWhileScanning::SizesWhileScanning() = default;

SizesWhileScanning::~SizesWhileScanning()
{
    m_pool.waitForDone();
}

CatalogueBuilder::BatchAdded SizesWhileScanning::observer()
{
    return [this](const Catalogue &catalogue) { measureNew(catalogue); };
}

void SizesWhileScanning::measureNew(const Catalogue &catalogue)
{
    // The table's bytes stay where they are while it grows, so the measuring
    // threads get the paths as views and never look at the table itself.
    const PathTable &paths = catalogue.paths();
    for (; m_next < catalogue.installerPackages.size(); ++m_next) {
        const PackageRecord &record = catalogue.installerPackages.at(m_next);
        std::vector<QByteArrayView> files;
        const QList<Catalogue::PathId> ids = catalogue.fileIdsForPackage(record.packageIdentifier());
        files.reserve(size_t(ids.size()));
        for (const Catalogue::PathId id : ids)
            files.push_back(paths.utf8(id));
        m_sizes.append({record, QtConcurrent::run(&m_pool, [record, files = std::move(files)] {
                            return PackageSize::bytes(record, files);
                        })});
    }
}

void SizesWhileScanning::finish()
{
    for (auto &[record, size] : m_sizes)
        record.setInstallBytes(size.result());
    m_sizes.clear();
}

} // namespace dorvane

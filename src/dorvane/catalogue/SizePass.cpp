#include "dorvane/catalogue/SizePass.h"

#include "dorvane/catalogue/PackageSize.h"
#include "kestrum/Dispatch.h"

#include <QPointer>

namespace dorvane {

namespace {

QString sizeText(const PackageRecord &record, const QHash<QString, QStringList> &files)
{
    return PackageSize::text(PackageSize::bytes(record, files.value(record.packageIdentifier())));
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
    const QHash<QString, QStringList> files = catalogue.filesForPackage;
    // The background side looks at the generation only; the pass object is
    // looked at on the main thread, where it is destroyed.
    const QPointer<SizePass> self(this);
    kestrum::dispatch_async_back([self, current, generation, packages, files] {
        const auto stillCurrent = [self, current, generation] { return self && current->load() == generation; };
        for (const PackageRecord &record : packages) {
            if (current->load() != generation)
                return;
            const QString text = sizeText(record, files);
            kestrum::dispatch_async_main([self, stillCurrent, record, text] {
                if (!stillCurrent())
                    return;
                record.setInstallSize(text);
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
    for (const PackageRecord &record : catalogue.installerPackages)
        record.setInstallSize(sizeText(record, catalogue.filesForPackage));
}

} // namespace dorvane

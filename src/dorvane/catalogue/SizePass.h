#pragma once

#include "dorvane/catalogue/Catalogue.h"
#include "dorvane/catalogue/CatalogueBuilder.h"

#include <QFuture>
#include <QObject>
#include <QThreadPool>

#include <atomic>
#include <memory>

namespace dorvane {

// Fills in the size of every listed package of a scan. The sizes are
// measured on the background queue, a few packages side by side, in list order,
// and reach the records on the main thread, so a list shows them as they
// come. Needs no window.
class SizePass : public QObject
{
    Q_OBJECT

public:
    explicit SizePass(QObject *parent = nullptr);
    ~SizePass() override;   // a pass still running stops at its next package

    // Starts a pass over the catalogue's listed packages. A pass started
    // before stops at its next package and its sizes are dropped, so each
    // record's size comes from its own scan's file list.
    void start(const Catalogue &catalogue);

Q_SIGNALS:
    void packageSized(const QString &identifier);   // its record now holds its size
    void finished();                                // every package of the newest pass has its size

private:
    // Each pass carries the generation it belongs to.
    std::shared_ptr<std::atomic<int>> m_generation;
};

// The command line's way to have every size at once: each listed package is
// measured as soon as the scan has put it into the catalogue, side by side
// with the reading of the next bills, so the scan and the sizes share the
// cores instead of taking turns.
class SizesWhileScanning
{
public:
    SizesWhileScanning();
    ~SizesWhileScanning();   // waits for what is still being measured

    // Hand this to the scan; it takes each batch's new packages.
    CatalogueBuilder::BatchAdded observer();
    // Once the scan is over: waits for the last sizes and fills them in.
    void finish();

private:
    void measureNew(const Catalogue &catalogue);

    QThreadPool m_pool;
    qsizetype m_next = 0;   // the first listed package not yet measured
    QList<std::pair<PackageRecord, QFuture<quint64>>> m_sizes;
};

} // namespace dorvane

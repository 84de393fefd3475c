#pragma once

#include "dorvane/catalogue/Catalogue.h"

#include <QObject>

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

    // The same at once, on the calling thread (the command line).
    static void sizeAll(const Catalogue &catalogue);

Q_SIGNALS:
    void packageSized(const QString &identifier);   // its record now holds its size
    void finished();                                // every package of the newest pass has its size

private:
    // Each pass carries the generation it belongs to.
    std::shared_ptr<std::atomic<int>> m_generation;
};

} // namespace dorvane

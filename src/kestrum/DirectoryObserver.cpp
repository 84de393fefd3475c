#include "kestrum/DirectoryObserver.h"

#include "platform/Volume.h"

#include <QFileInfo>
#include <QFileSystemWatcher>

namespace kestrum {

DirectoryObserver::DirectoryObserver(QObject *parent)
    : QObject(parent)
    , m_latency(this)
{
    m_latency.setSingleShot(true);
    m_latency.setInterval(kLatencyMs);
    connect(&m_latency, &QTimer::timeout, this, &DirectoryObserver::deliver);
}

DirectoryObserver::~DirectoryObserver()
{
    stopObserving();
}

bool DirectoryObserver::startObserving(const QString &logicalPath, std::function<void()> onChange)
{
    stopObserving();
    if (logicalPath.isEmpty() || !onChange)
        return false;
    // The folder is found inside the volume; the watcher, which only
    // observes, is then given the place the links led to.
    const std::optional<platform::LogicalPath> named = platform::volumePath(logicalPath);
    const std::optional<platform::LogicalPath> folder =
        named ? platform::Volume::current()->resolved(*named) : std::nullopt;
    const std::optional<platform::ItemStatus> status =
        folder ? platform::Volume::current()->status(*folder, platform::Follow::NotFinal) : std::nullopt;
    if (!status || !status->isDirectory())
        return false;
    const QString physical = platform::Volume::current()->physicalPath(*folder);

    auto watcher = std::make_unique<QFileSystemWatcher>();
    if (!watcher->addPath(physical))
        return false;
    connect(watcher.get(), &QFileSystemWatcher::directoryChanged, this, &DirectoryObserver::changed);
    m_watcher = std::move(watcher);
    m_onChange = std::move(onChange);
    return true;
}

void DirectoryObserver::stopObserving()
{
    m_latency.stop();
    m_watcher.reset();
    m_onChange = nullptr;
}

bool DirectoryObserver::isObserving() const
{
    return m_watcher != nullptr;
}

void DirectoryObserver::changed()
{
    // A running latency already holds a batch: this change joins it. The
    // timer is not restarted, so a steady stream of changes still gives one
    // call per latency instead of none.
    if (!m_latency.isActive())
        m_latency.start();
}

void DirectoryObserver::deliver()
{
    // Copied, so that the function may stop or restart this observer.
    const std::function<void()> onChange = m_onChange;
    if (onChange)
        onChange();
}

} // namespace kestrum

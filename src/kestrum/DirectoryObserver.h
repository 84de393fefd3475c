#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

class QFileSystemWatcher;

namespace kestrum {

// Calls a function when something changes in a folder, the way an FSEvents
// stream with a 2.0 s latency does on the Mac: the first change starts the
// latency, every change during it joins the same batch, and the batch ends in
// one call without arguments. The folder is watched itself, not its whole
// tree (QFileSystemWatcher does not recurse); a change below a subfolder shows
// only when it changes the folder's own entries.
//
// Used on the thread the observer lives in, which needs a running event loop;
// the calls arrive on that thread. Destroying the observer stops it.
class DirectoryObserver : public QObject
{
    Q_OBJECT

public:
    static constexpr int kLatencyMs = 2000;

    explicit DirectoryObserver(QObject *parent = nullptr);
    ~DirectoryObserver() override;

    // Starts watching the folder at the logical path (a link resolved inside
    // the volume), first stopping an observation already running. False when
    // the folder cannot be watched; nothing is called then.
    bool startObserving(const QString &logicalPath, std::function<void()> onChange);

    // Stops and forgets the function; a batch still waiting is dropped.
    // Does nothing when nothing is observed.
    void stopObserving();

    bool isObserving() const;

private:
    void changed();
    void deliver();

    std::unique_ptr<QFileSystemWatcher> m_watcher;
    QTimer m_latency;
    std::function<void()> m_onChange;
};

} // namespace kestrum

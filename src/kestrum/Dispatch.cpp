#include "kestrum/Dispatch.h"

#include "kestrum/ExceptionHandler.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QRunnable>
#include <QSemaphore>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>
#include <chrono>

namespace kestrum {

namespace {

bool isMainThread()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

// A pool thread has no event loop of its own, so timers are kept by the
// main thread and the block is handed on when they fire.
// The deadline is taken when the caller asks, so the hop to the main
// thread does not lengthen the delay.
void startMainTimer(const QDeadlineTimer &deadline, Block block)
{
    using namespace std::chrono;
    const auto remaining = ceil<milliseconds>(nanoseconds(std::max<qint64>(0, deadline.remainingTimeNSecs())));
    QTimer::singleShot(remaining, Qt::PreciseTimer, QCoreApplication::instance(), std::move(block));
}

// A pool thread rethrows whatever escapes a block, which ends the process
// with no word to the user; the fatal error feedback reports it instead.
Block reportingExceptions(Block block)
{
    return [block = std::move(block)] {
        try {
            block();
        } catch (...) {
            exceptionHandler(std::current_exception());
        }
    };
}

} // namespace

long long dispatchDelayNanoseconds(float delay)
{
    return static_cast<long long>(delay * 1e9f);
}

void dispatch_sync_main(Block block)
{
    if (isMainThread() || !QCoreApplication::instance()) {
        block();
        return;
    }
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(block), Qt::BlockingQueuedConnection);
}

void dispatch_async_main(Block block)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(block), Qt::QueuedConnection);
}

void dispatch_after_main(Block block, float delay)
{
    QDeadlineTimer deadline(Qt::PreciseTimer);
    deadline.setPreciseRemainingTime(0, dispatchDelayNanoseconds(delay), Qt::PreciseTimer);
    dispatch_async_main([deadline, block = std::move(block)]() mutable { startMainTimer(deadline, std::move(block)); });
}

void dispatch_after_back(Block block, float delay)
{
    dispatch_after_main([block = std::move(block)]() mutable { dispatch_async_back(std::move(block)); }, delay);
}

void dispatch_async_back(Block block)
{
    QThreadPool::globalInstance()->start(reportingExceptions(std::move(block)));
}

void dispatch_sync_back(Block block)
{
    // A pool thread that waited for another pool thread could starve the
    // pool; it already is on the background queue, so it runs the block.
    if (QThreadPool::globalInstance()->contains(QThread::currentThread())) {
        block();
        return;
    }
    QSemaphore done;
    QThreadPool::globalInstance()->start(reportingExceptions([&] {
        block();
        done.release();
    }));
    done.acquire();
}

} // namespace kestrum

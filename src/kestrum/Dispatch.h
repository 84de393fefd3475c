#pragma once

#include <functional>

namespace kestrum {

using Block = std::function<void()>;

// Thread hand-over. The main queue is the application object's event loop;
// the background queue is Qt's global thread pool.

// Runs the block on the main thread and waits for it; a caller that already
// is the main thread runs it inline, which keeps it from deadlocking.
void dispatch_sync_main(Block block);
// Queues the block on the main thread, also when called from it.
void dispatch_async_main(Block block);
// Queues the block on the main thread after `delay` seconds. The delay is
// converted as on the Mac: seconds * 1e9 in single precision, truncated to
// whole nanoseconds.
void dispatch_after_main(Block block, float delay);
// Runs the block on the background queue after `delay` seconds.
void dispatch_after_back(Block block, float delay);
// Runs the block on the background queue.
void dispatch_async_back(Block block);
// Runs the block on the background queue and waits for it.
void dispatch_sync_back(Block block);

// The nanosecond count a delay in seconds becomes.
long long dispatchDelayNanoseconds(float delay);

} // namespace kestrum

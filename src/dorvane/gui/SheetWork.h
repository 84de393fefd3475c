#pragma once

#include "dorvane/gui/ProgressPanel.h"
#include "kestrum/Dispatch.h"

#include <QPointer>

#include <functional>

namespace dorvane {

using SheetProgress = std::function<void(const QString &detail)>;

// Runs work on the background queue behind the progress sheet of `feed`: the sheet
// opens with `title`, shows the details the work reports and closes when the
// work returns; then `deliver` gets the result on the main thread, unless
// `receiver` is gone by then. The work holds neither the panel nor the
// receiver, so the window may be destroyed while it runs.
//     Work:    Result (const SheetProgress &progress), any thread
//     Deliver: void (Result result), main thread
template<typename Work, typename Deliver>
void runBehindSheet(const ProgressPanel::Feed &feed, QObject *receiver, const QString &title, Work work, Deliver deliver)
{
    QPointer<QObject> guard(receiver);
    kestrum::dispatch_async_back([feed, guard, title, work = std::move(work), deliver = std::move(deliver)] {
        feed.beginProgress(title);
        auto result = work(SheetProgress([feed](const QString &detail) { feed.setProgress(detail); }));
        feed.endProgress();
        kestrum::dispatch_async_main([guard, deliver, result = std::move(result)]() mutable {
            if (guard)
                deliver(std::move(result));
        });
    });
}

} // namespace dorvane

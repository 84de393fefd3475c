#include "dorvane/gui/UninstallFlow.h"

#include "dorvane/gui/SheetWork.h"
#include "dorvane/toolclient/DeleteHelper.h"
#include "dorvane/planning/UninstallChecks.h"
#include "dorvane/planning/UninstallPlanner.h"
#include "kestrum/Alert.h"
#include "kestrum/Format.h"

namespace dorvane {

namespace {
const QString kUndoTitle = QStringLiteral("Undo Last Uninstall");
}

UninstallFlow::UninstallFlow(ProgressPanel::Feed progress, QObject *parent)
    : QObject(parent), m_progress(std::move(progress))
{
}

void UninstallFlow::plan(const QList<PackageRecord> &selection, const Catalogue &catalogue, bool rootless)
{
    UninstallChecks checks;
    if (!checks.mayPlan(selection))
        return;
    // The copy shares the maps; the scan never changes them in place.
    runBehindSheet(
        m_progress, this, UninstallPlanner::kProgressTitle,
        [selection, catalogue, rootless](const SheetProgress &progress) {
            return UninstallPlanner::plan(selection, catalogue, rootless, progress);
        },
        [this, selection](UninstallPlan plan) {
            m_plan = std::move(plan);
            m_planSelection = selection;
            Q_EMIT planned();
        });
}

bool UninstallFlow::confirm() const
{
    return UninstallRun::confirm(m_planSelection);
}

void UninstallFlow::carryOut(Forgotten forgotten)
{
    if (!m_deleteHelper)
        return;
    const std::shared_ptr<DeleteHelper> helper = m_deleteHelper;
    const QList<PackageRecord> selection = m_planSelection;
    const UninstallPlan plan = m_plan;
    QPointer<UninstallFlow> guard(this);
    runBehindSheet(
        m_progress, this, UninstallRun::progressTitle(selection.size()),
        [helper, selection, plan, guard, forgotten](const SheetProgress &progress) {
            UninstallRun run(plan, selection, *helper);
            return run.execute(progress, [guard, forgotten](const QList<PackageRecord> &packages) {
                // The guard is only read on the main thread, where the flow dies.
                kestrum::dispatch_async_main([guard, forgotten, packages] {
                    if (guard)
                        forgotten(packages);
                });
            });
        },
        // Posted after the forgotten packages, so the list is current when
        // the success sheet appears.
        [this](const UninstallOutcome &outcome) {
            m_successFiles = outcome.successFiles();
            Q_EMIT finished(outcome);
            // The uninstall is done; only its record is missing.
            if (!outcome.logError.isEmpty())
                kestrum::alert(QStringLiteral("Warning"),
                               kestrum::makeString("The uninstall log could not be written: %@", outcome.logError));
        });
}

void UninstallFlow::undoLast()
{
    if (!m_deleteHelper)
        return;
    // Every step asks the helper, so none runs on the main thread.
    const std::shared_ptr<DeleteHelper> helper = m_deleteHelper;
    runBehindSheet(
        m_progress, this, QStringLiteral("Looking for the last uninstall"),
        [helper](const SheetProgress &) {
            QString error;
            const std::optional<KeptRun> run = KeptRuns::last(*helper, &error);
            return std::make_pair(run, error);
        },
        [this](const std::pair<std::optional<KeptRun>, QString> &found) {
            if (!found.first) {
                kestrum::alert(kUndoTitle,
                               found.second.isEmpty() ? QStringLiteral("The quarantine keeps no uninstall to undo.")
                                                      : found.second,
                               QStringLiteral("OK"));
                return;
            }
            if (kestrum::alert(kUndoTitle, KeptRuns::undoQuestion(*found.first), QStringLiteral("Undo"),
                               QStringLiteral("Cancel"))
                == 1000)
                restore(found.first->run);
        });
}

void UninstallFlow::restore(const QString &run)
{
    const std::shared_ptr<DeleteHelper> helper = m_deleteHelper;
    runBehindSheet(
        m_progress, this, QStringLiteral("Restoring Packages"),
        [helper, run](const SheetProgress &) { return KeptRuns::undo(*helper, run); },
        [this](const UndoOutcome &outcome) {
            kestrum::alert(kUndoTitle, outcome.report().join(QLatin1Char('\n')), QStringLiteral("OK"));
            Q_EMIT undone();
        });
}

} // namespace dorvane

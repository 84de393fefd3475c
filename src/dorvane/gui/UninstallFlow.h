#pragma once

#include "dorvane/catalogue/Catalogue.h"
#include "dorvane/gui/ProgressPanel.h"
#include "dorvane/planning/UninstallPlan.h"
#include "dorvane/uninstall/KeptRuns.h"
#include "dorvane/uninstall/UninstallRun.h"

#include <QObject>

#include <functional>
#include <memory>

namespace dorvane {

class DeleteHelper;

// The uninstall flow from the checks to the undo, holding no window: it
// asks through the alert presenter, works on the background queue behind
// the progress sheet whose feed it is given, and says by its signals when
// there is something to show.
class UninstallFlow : public QObject
{
    Q_OBJECT

public:
    // Called on the main thread with each package the run forgot, while
    // the run goes on.
    using Forgotten = std::function<void(const QList<PackageRecord> &packages)>;

    UninstallFlow(ProgressPanel::Feed progress, QObject *parent = nullptr);

    void setDeleteHelper(std::shared_ptr<DeleteHelper> helper) { m_deleteHelper = std::move(helper); }
    DeleteHelper *deleteHelper() const { return m_deleteHelper.get(); }

    // The checks on the main thread, then the plan in the background;
    // planned() once it is ready.
    void plan(const QList<PackageRecord> &selection, const Catalogue &catalogue, bool rootless);
    const UninstallPlan &currentPlan() const { return m_plan; }

    // Asks for the confirmation; false when the user cancelled.
    bool confirm() const;
    // Carries the confirmed plan out; finished() after the last forgotten
    // package was posted.
    void carryOut(Forgotten forgotten);
    const QVariantList &successFiles() const { return m_successFiles; }

    // Asks, then puts the last kept run back; undone() when the report
    // was answered.
    void undoLast();

Q_SIGNALS:
    void planned();
    void finished(const dorvane::UninstallOutcome &outcome);
    void undone();

private:
    void restore(const QString &run);

    ProgressPanel::Feed m_progress;
    UninstallPlan m_plan;
    QList<PackageRecord> m_planSelection;   // what the plan was made for, in selection order
    QVariantList m_successFiles;
    // Shared with a running uninstall, which may outlive the window.
    std::shared_ptr<DeleteHelper> m_deleteHelper;
};

} // namespace dorvane

#pragma once

#include "dorvane/planning/UninstallPlan.h"
#include "dorvane/receipts/PackageRecord.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <functional>
#include <memory>
#include <optional>

namespace dorvane {

class DeleteHelper;
class SessionRecord;

// What one uninstall did, for the success sheet, the command line and tests.
struct UninstallOutcome
{
    QStringList removedFolders;   // the folders handed to the tool, in deletion order
    QStringList removedFiles;     // the plan's files that went, or were asked for and answered
    QStringList unremovedFiles;   // the plan's files still there after their request went unanswered
    QStringList additional;       // generated items, then application folders, as far as their settings allowed
    QString logFile;              // the uninstall log's logical path; empty when it could not be written
    QString logError;             // then why, with the path it was meant for
    QString logName;
    bool dockChanged = false;
    bool receiptsKept = false;    // a request went unanswered and left files: the receipts stay

    // The quarantine's run that keeps what went, when the setting keeps it.
    QString run;
    QDateTime keptUntil;
    qint64 keptItems = 0;
    qint64 keptBytes = 0;
    QStringList removedForGood;   // items that could not wait in the quarantine

    // How much is kept, until when, and how to undo; empty when nothing is kept.
    QString keptText() const;

    // The success sheet's groups; the third only when it has children.
    QList<PlanSection> successSections() const;
    QVariantList successFiles() const { return sectionNodes(successSections()); }
};

// Carries out a confirmed plan, with no window: quits the packages'
// applications, ends the processes that run from what goes, removes the
// files, the folders left empty, the application folders and generated
// items, forgets the receipts, unhooks the Dock, writes the logs. Every
// removal and termination goes to the helper tool, one request after the
// other; a failed request is reported by the helper client and the run goes
// on. The settings are read at the moment each stage needs them, so the
// run honours what the user ticked up to then.
//
// Runs on a background thread (the window's) or on the main thread (the
// command line's); it blocks until the last request is answered.
class UninstallRun
{
public:
    using Progress = std::function<void(const QString &detail)>;
    // Takes the packages out of the catalogue (posted to the main thread
    // by the window; nothing on the command line).
    using RemoveInfo = std::function<void(const QList<PackageRecord> &packages)>;

    UninstallRun(UninstallPlan plan, QList<PackageRecord> selection, DeleteHelper &helper);

    // The confirmation question; true when the user chose to proceed.
    static bool confirm(const QList<PackageRecord> &selection);
    // With keepDays > 0 it says how to undo instead of that nothing can be.
    static QString confirmationMessage(const QList<PackageRecord> &selection, int keepDays);

    // The packages' printed forms, one after the other: what every helper
    // request of the run names in its reports.
    static QString informationText(const QList<PackageRecord> &selection);

    // The progress sheet's title for this many packages.
    static QString progressTitle(qsizetype packageCount);

    // The log's name: the identifiers' common prefix when it is longer than
    // six characters (with ".*" for more than one package), else a name
    // made from the date.
    static QString logName(const QStringList &identifiers, const QDateTime &now);

    // The processes to end: the lister's output ("PID COMM" lines after a
    // header) matched against the plan; pids and commands in found order.
    static void collectProcesses(const QString &listing, const UninstallPlan &plan, QStringList *pids,
                                 QStringList *commands);

    UninstallOutcome execute(const Progress &progress, const RemoveInfo &removeInfo = {});

private:
    void quitApplications(const Progress &progress);
    void endProcesses(const Progress &progress);
    void removeFolders(const Progress &progress);
    void forgetReceipts(const Progress &progress);
    void deleteFiles(const UninstallPlan::Paths &paths);
    void describeKept(int keepDays);
    QString quarantineSection() const;

    const UninstallPlan m_plan;
    const QList<PackageRecord> m_selection;
    const QStringList m_packages;   // the selection's identifiers, named in every request
    DeleteHelper &m_helper;

    // Working data of the run.
    QString m_information;
    QString m_logText;
    QStringList m_identifiers;
    QStringList m_fileNames;
    QStringList m_removedFiles;
    bool m_unfinished = false;   // a delete request went unanswered and left files behind
    UninstallOutcome m_outcome;
    std::shared_ptr<SessionRecord> m_session;   // the run's Dock tiles and login items, when it keeps them
};

} // namespace dorvane

#include "dorvane/uninstall/UninstallRun.h"

#include "dorvane/Settings.h"
#include "dorvane/toolclient/DeleteHelper.h"
#include "dorvane/logs/LogFiles.h"
#include "dorvane/uninstall/AppIntegration.h"
#include "dorvane/uninstall/KeptRuns.h"
#include "dorvane/uninstall/ProcessLister.h"
#include "dorvane/uninstall/ReceiptForgetting.h"
#include "dorvane/uninstall/SessionRecord.h"
#include "helperwire/HelperRequest.h"
#include "kestrum/Alert.h"
#include "kestrum/DefaultsKey.h"
#include "kestrum/FileSystem.h"
#include "kestrum/Format.h"
#include "kestrum/Log.h"
#include "kestrum/Task.h"
#include "platform/Volume.h"

#include <QLocale>
#include <QRegularExpression>
#include <QSet>

namespace dorvane {

using kestrum::makeString;
using platform::LogicalPath;

namespace {

// Read when the stage runs, not when the run starts.
bool settingOn(const char *key)
{
    return kestrum::DefaultsKey(key).defaultInt() != 0;
}


// What an otherwise empty folder may still hold and go: the Finder's
// view settings or its custom-icon file, as a regular file, but not both.
// The tool looks again when it removes the folder; this only spares it the
// requests for folders that are plainly not empty.
bool removableContent(const LogicalPath &folder, const QStringList &entries)
{
    if (entries.isEmpty())
        return true;
    if (entries.size() != 1 || (entries.first() != QLatin1String(".DS_Store") && entries.first() != QLatin1String("Icon\r")))
        return false;
    const std::optional<platform::ItemStatus> status =
        platform::Volume::current()->status(folder.child(entries.first()), platform::Follow::NotFinal);
    return status && status->isFile();
}

QStringList identifiersOf(const QList<PackageRecord> &packages)
{
    QStringList identifiers;
    for (const PackageRecord &package : packages)
        identifiers.append(package.packageIdentifier());
    return identifiers;
}

} // namespace

QList<PlanSection> UninstallOutcome::successSections() const
{
    QList<PlanSection> groups{
        {makeString("Uninstalled Folders (%li)", qint64(removedFolders.size())), removedFolders},
        {makeString("Uninstalled Files (%li)", qint64(removedFiles.size())), removedFiles}};
    if (!additional.isEmpty())
        groups.append({makeString("Additional uninstalled files & folders (%li)", qint64(additional.size())), additional});
    return groups;
}

UninstallRun::UninstallRun(UninstallPlan plan, QList<PackageRecord> selection, DeleteHelper &helper)
    : m_plan(std::move(plan)), m_selection(std::move(selection)), m_packages(identifiersOf(m_selection)), m_helper(helper)
{
}

QString UninstallOutcome::keptText() const
{
    if (run.isEmpty())
        return {};
    return makeString("Kept in the quarantine until %@: %li items (%@). \"Undo Last Uninstall…\" in the Logs menu, or "
                      "\"dorvane undo %@\", puts them back.",
                      QLocale::system().toString(keptUntil.toLocalTime(), QLocale::ShortFormat), keptItems,
                      QLocale::system().formattedDataSize(keptBytes), run);
}

QString UninstallRun::confirmationMessage(const QList<PackageRecord> &selection, int keepDays)
{
    QStringList perPackage;
    for (const PackageRecord &package : selection) {
        if (!package.appNames().isEmpty())
            perPackage.append(package.appNames().join(QStringLiteral(", ")));
    }
    const QString applications =
        perPackage.isEmpty()
            ? QString()
            : makeString("\nThis will remove these application(s) from your Mac: %@", perPackage.join(QStringLiteral(", ")));
    if (keepDays > 0) {
        return makeString("Do you really want to to remove the package(s) & package-contents?%@\n\nRemoved items are "
                          "kept in the quarantine for %li days: \"Undo Last Uninstall…\" in the Logs menu, or "
                          "\"dorvane undo\", puts them back. This is done on your own risk! Make sure you've read the "
                          "documentation before proceeding.",
                          applications, qint64(keepDays));
    }
    return makeString("Do you really want to to remove the package(s) & package-contents?%@\n\nThis operation can not "
                      "be undone and is done on your own risk! Make sure you've read the documentation before "
                      "proceeding.",
                      applications);
}

bool UninstallRun::confirm(const QList<PackageRecord> &selection)
{
    return kestrum::alert(QStringLiteral("Warning"), confirmationMessage(selection, KeptRuns::keepDays()),
                          QStringLiteral("Proceed with uninstall"), QStringLiteral("Cancel"))
           == 1000;
}

QString UninstallRun::informationText(const QList<PackageRecord> &selection)
{
    QString text;
    for (const PackageRecord &package : selection)
        text += package.description();
    return text;
}

QString UninstallRun::progressTitle(qsizetype packageCount)
{
    return packageCount == 1 ? QStringLiteral("Removing Package") : QStringLiteral("Removing Packages");
}

QString UninstallRun::logName(const QStringList &identifiers, const QDateTime &now)
{
    QString prefix = identifiers.value(0);
    for (const QString &identifier : identifiers) {
        qsizetype same = 0;
        while (same < prefix.size() && same < identifier.size() && prefix.at(same) == identifier.at(same))
            ++same;
        prefix.truncate(same);
    }
    if (prefix.size() > 6)
        return identifiers.size() >= 2 ? prefix + QStringLiteral(".*") : prefix;
    return makeString("Multiple_Packages_%@", LogFiles::fallbackTimestamp(now));
}

void UninstallRun::collectProcesses(const QString &listing, const UninstallPlan &plan, QStringList *pids,
                                    QStringList *commands)
{
    static const QRegularExpression digits(QStringLiteral("[0-9]+"));
    // Generated items and application folders are matched as folders
    // whatever the settings say: a process running from there would keep
    // its files open or write them again. Paths compare as the volume does,
    // and "/Applications/Foo.app" never takes in "/Applications/Foo.app Beta.app".
    const QList<platform::LogicalPath> folders = plan.removeGenerated + plan.removeRemaining;
    const QSet<platform::LogicalPath> files(plan.removeFiles.cbegin(), plan.removeFiles.cend());
    QStringList lines = listing.split(QLatin1Char('\n'));
    if (!lines.isEmpty())
        lines.removeFirst(); // the column header
    for (const QString &line : std::as_const(lines)) {
        const QRegularExpressionMatch match = digits.match(line);
        if (!match.hasMatch())
            continue;
        const QString command = line.mid(match.capturedEnd() + 1);
        const std::optional<platform::LogicalPath> executable =
            command.startsWith(QLatin1Char('/')) ? platform::volumePath(command) : std::nullopt;
        if (!executable)
            continue;
        const bool inside = std::any_of(folders.cbegin(), folders.cend(),
                                        [&](const platform::LogicalPath &folder) { return executable->isWithin(folder); });
        if (inside || files.contains(*executable)) {
            pids->append(match.captured());
            commands->append(command);
        }
    }
}

UninstallOutcome UninstallRun::execute(const Progress &progress, const RemoveInfo &removeInfo)
{
    // A run starts from nothing, also when the same plan is run again.
    m_outcome = UninstallOutcome();
    m_removedFiles.clear();
    m_unfinished = false;
    m_information = informationText(m_selection);
    m_logText.clear();
    m_identifiers.clear();
    m_fileNames.clear();
    // With the setting on, every removal of the run waits in its quarantine.
    const int keepDays = KeptRuns::keepDays();
    m_outcome.run = keepDays > 0 ? helperwire::newRunId() : QString();
    m_session = keepDays > 0 ? std::make_shared<SessionRecord>(m_outcome.run) : nullptr;
    m_helper.setRun(m_outcome.run);

    quitApplications(progress);
    endProcesses(progress);

    progress(QStringLiteral("Deleting files…"));
    if (!m_plan.removeFiles.isEmpty())
        deleteFiles(m_plan.removeFiles);
    m_outcome.removedFiles = m_removedFiles;

    if (settingOn(Settings::kDeleteFolders))
        removeFolders(progress);

    progress(QStringLiteral("Deleting additional files"));
    const bool remaining = settingOn(Settings::kDeleteRemaining);
    if (remaining)
        deleteFiles(m_plan.removeRemaining);
    const bool generated = settingOn(Settings::kDeleteGenerated);
    if (generated) {
        deleteFiles(m_plan.removeGenerated);
        // The preferences daemon would keep the deleted preferences cached.
        kestrum::runAsTask({QStringLiteral("/usr/bin/killall"), QStringLiteral("-SIGTERM"), QStringLiteral("cfprefsd")});
    }
    // Shown generated items first, though removed second.
    m_outcome.additional = platform::toStrings((generated ? m_plan.removeGenerated : UninstallPlan::Paths())
                                               + (remaining ? m_plan.removeRemaining : UninstallPlan::Paths()));

    forgetReceipts(progress);

    m_helper.setRun(QString());
    if (!m_outcome.run.isEmpty())
        describeKept(keepDays);

    progress(QStringLiteral("Writing logfile"));
    m_outcome.logName = logName(m_identifiers, QDateTime::currentDateTime());
    QString logError;
    const QString logFile =
        LogFiles::writeLogfile(m_outcome.logName, m_identifiers.join(QLatin1Char(' ')).trimmed(),
                               m_fileNames.join(QLatin1Char(' ')).trimmed(), m_outcome.removedFiles,
                               m_outcome.removedFolders,
                               remaining ? std::optional(platform::toStrings(m_plan.removeRemaining)) : std::nullopt,
                               generated ? std::optional(platform::toStrings(m_plan.removeGenerated)) : std::nullopt,
                               QDateTime::currentDateTime(), &logError, quarantineSection())
            .toString();
    // The uninstall itself is done; only its record is missing, which the
    // command line says instead of naming a file that is not there.
    if (logError.isEmpty())
        m_outcome.logFile = logFile;
    else
        m_outcome.logError = makeString("%@: %@", logFile, logError);
    if (m_outcome.dockChanged)
        AppIntegration::quitDock();
    LogFiles::addToLogfile(m_logText);

    progress(QStringLiteral("Removing package info"));
    // Packages whose files are not all gone stay listed, with what is left.
    m_outcome.receiptsKept = m_unfinished;
    if (removeInfo && !m_unfinished)
        removeInfo(m_selection);
    return m_outcome;
}

void UninstallRun::quitApplications(const Progress &progress)
{
    for (const PackageRecord &package : m_selection) {
        progress(makeString("Quitting app in package: %@", package.packageIdentifier()));
        for (const QString &identifier : package.appBuIDs())
            AppIntegration::quitApp(identifier);
        if (settingOn(Settings::kDeleteDock)) {
            const std::shared_ptr<SessionRecord> session = m_session;
            const auto keep = [session](const LogicalPath &entry) { return session && session->keepLoginItem(entry); };
            for (const QString &path : package.appPaths())
                AppIntegration::removeLoginItem_LS(kestrum::fileURL(path), keep);
        }
    }
}

void UninstallRun::endProcesses(const Progress &progress)
{
    // A lister that cannot run gives no processes; the applications were
    // asked to quit already.
    const QString listing = kestrum::runAsTask(ProcessLister::launchArguments()).value_or(QString());
    QStringList pids, commands;
    collectProcesses(listing, m_plan, &pids, &commands);

    progress(QStringLiteral("Terminating processes in package…"));
    if (pids.isEmpty())
        return;
    QList<qint64> numbers;
    for (const QString &pid : std::as_const(pids))
        numbers.append(pid.toLongLong());
    m_helper.killPIDs(numbers, m_packages, makeString("%@\n%@", QVariant(commands), m_information));
}

void UninstallRun::removeFolders(const Progress &progress)
{
    QSet<LogicalPath> asked;
    // Removing a folder can empty its parent: walk again until a pass
    // removes nothing, so the order of the list does not matter.
    for (int count = 1; count != 0;) {
        count = 0;
        for (auto folder = m_plan.removeFolders.crbegin(); folder != m_plan.removeFolders.crend(); ++folder) {
            const LogicalPath &path = *folder;
            if (asked.contains(path) || !platform::Volume::current()->status(path, platform::Follow::Final))
                continue;
            // A folder the user cannot list is never taken for empty: the
            // tool would remove it with whatever it holds.
            const std::optional<QStringList> entries = platform::Volume::current()->list(path);
            if (!entries || !removableContent(path, *entries))
                continue;
            progress(makeString("Deleting folder: %@", path.name().toString()));
            // Asked once: a folder the tool kept (not empty by then) stays.
            asked.insert(path);
            const std::optional<helperwire::Reply> reply = m_helper.deleteFolder(path, m_packages, m_information);
            if (!reply || !reply->failures().isEmpty())
                continue;
            m_outcome.removedFolders.append(path.toString());
            ++count;
        }
    }
}

// The files of a request the tool never answered may still be there: what
// is gone is listed as removed, and when anything is left the receipts
// stay, so that the packages are listed again with what they still hold.
void UninstallRun::deleteFiles(const UninstallPlan::Paths &paths)
{
    const std::optional<helperwire::Reply> reply = m_helper.deleteFiles(paths, m_packages, m_information);
    if (reply)
        m_outcome.removedForGood += reply->removedForGood();
    const bool isFiles = &paths == &m_plan.removeFiles;
    for (const LogicalPath &path : paths) {
        const bool left = !reply && platform::Volume::current()->status(path, platform::Follow::NotFinal);
        if (left)
            m_unfinished = true;
        if (isFiles)
            (left ? m_outcome.unremovedFiles : m_removedFiles).append(path.toString());
    }
}

void UninstallRun::forgetReceipts(const Progress &progress)
{
    const bool dock = settingOn(Settings::kDeleteDock);
    if (m_unfinished) {
        kestrum::asl_NSLog(kestrum::LogWarning,
                           "Warning: the receipts of %@ are kept: a delete request was not answered and its files "
                           "are still there.",
                           m_packages.join(QStringLiteral(", ")));
    }
    for (const PackageRecord &package : m_selection) {
        const QString identifier = package.packageIdentifier();
        m_identifiers.append(identifier);
        // A record without a file name adds nothing, not even its blank.
        if (!package.packageFileName().isEmpty())
            m_fileNames.append(package.packageFileName());
        if (m_unfinished) {
            m_logText += makeString("%@: kept the receipt of package '%@': its files are not all removed\n",
                                    LogFiles::timestamp(QDateTime::currentDateTime()), identifier);
            continue;
        }
        progress(makeString("Forgetting package: %@", identifier));
        ReceiptForgetting::forget(package, m_packages, m_helper);
        if (dock) {
            for (const QString &path : package.appPaths()) {
                QList<AppIntegration::DockTile> tiles;
                if (AppIntegration::removeFromDock(kestrum::fileURL(path), &tiles))
                    m_outcome.dockChanged = true;
                if (m_session)
                    m_session->keepDockTiles(tiles);
            }
        }
        m_logText += makeString("%@: uninstalled package '%@'\n", LogFiles::timestamp(QDateTime::currentDateTime()),
                                identifier);
    }
}

void UninstallRun::describeKept(int keepDays)
{
    QString error;
    const std::optional<KeptRun> kept = KeptRuns::describe(m_helper, m_outcome.run, &error);
    m_outcome.keptItems = kept ? kept->items : 0;
    m_outcome.keptBytes = kept ? kept->bytes : 0;
    m_outcome.keptUntil = (kept ? kept->created : QDateTime::currentDateTimeUtc()).addDays(keepDays);
    m_logText += makeString("%@: kept the removed items in the quarantine of run %@ until %@: %li items\n",
                            LogFiles::timestamp(QDateTime::currentDateTime()), m_outcome.run,
                            LogFiles::timestamp(m_outcome.keptUntil.toLocalTime()), m_outcome.keptItems);
}

QString UninstallRun::quarantineSection() const
{
    if (m_outcome.run.isEmpty())
        return {};
    return makeString("\n\n\nQuarantine run: %@ (kept until %@; \"dorvane undo %@\" puts every item above back, "
                      "except those removed for good)\n\n\nRemoved for good: \n%@",
                      m_outcome.run, LogFiles::timestamp(m_outcome.keptUntil.toLocalTime()), m_outcome.run,
                      m_outcome.removedForGood.join(QLatin1Char('\n')));
}

} // namespace dorvane

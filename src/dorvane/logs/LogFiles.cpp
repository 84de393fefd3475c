#include "dorvane/logs/LogFiles.h"

#include "kestrum/Alert.h"
#include "kestrum/FileSystem.h"
#include "kestrum/Format.h"
#include "kestrum/Kestrum.h"
#include "kestrum/Log.h"
#include "platform/Volume.h"
#include "platform/Workspace.h"

#include <QLocale>
#include <QStringDecoder>
#include <QUrl>

#include <cerrno>
#include <climits>

using kestrum::makeString;
using platform::Follow;
using platform::LogicalPath;
using platform::Volume;

namespace dorvane {

namespace {

const QString kRunningLogName = QStringLiteral("Dorvane.log");
const QString kLogSuffix = QStringLiteral(".log");
// Generous: a line per uninstalled package would take lifetimes to fill it.
constexpr qint64 kRunningLogLimit = 64 * 1024 * 1024;
constexpr qint64 kMaxAgeMSecs = qint64(2419200) * 1000;   // 28 days
constexpr quint64 kMegabyte = 1048576;
constexpr int kWarningMegabytes = 26;

QString formatted(const QDateTime &when, const QString &pattern)
{
    return QLocale(QLocale::English, QLocale::UnitedStates).toString(when.toLocalTime(), pattern);
}

// A log name or menu title as a name inside the log folder: "/" is the one
// character a file name cannot hold, and NUL would cut the name short.
QString fileNameOf(QString name)
{
    return name.replace(QLatin1Char('/'), QLatin1Char(':')).remove(QChar(0));
}

// Whether no link stands anywhere on the way to the path, the path itself
// included, so that what housekeeping moves or removes there lies there.
bool reachedWithoutLinks(const LogicalPath &path)
{
    const std::optional<platform::ItemStatus> own = Volume::current()->status(path, Follow::NotFinal);
    return Volume::current()->resolved(path, Follow::NotFinal) == path && !(own && own->isLink());
}

// Where the desktop finds the item: its links resolved on the volume first,
// since a program outside would follow them out of the root.
QUrl desktopUrl(const LogicalPath &path)
{
    const std::optional<LogicalPath> resolved = Volume::current()->resolved(path);
    return resolved ? QUrl::fromLocalFile(Volume::current()->physicalPath(*resolved)) : QUrl();
}

// Moves a stray log into the log folder. It never replaces a log of the
// same name: on a clash it takes the first free "name-N.log" there, and the
// clash is logged. Answers where it went (or was meant to go).
LogicalPath moveStrayLog(const LogicalPath &item, const LogicalPath &folder)
{
    const LogicalPath wanted = folder.child(item.name());
    LogicalPath moved = wanted;
    // A few times: another log may take the free name first.
    for (int attempt = 0; attempt < 8; ++attempt) {
        const Volume::Moved result = Volume::current()->moveItems({{item, moved}}, Volume::Reach::Whole).value(0);
        if (result.outcome != Volume::Moved::Failed || result.error != EEXIST)
            break;
        moved = platform::volumePath(kestrum::uniqueFile(wanted.toString())).value_or(wanted);
    }
    if (moved != wanted)
        kestrum::asl_NSLog(kestrum::LogWarning, "Warning: the log folder already holds %@; the stray log of that name "
                           "is kept beside it as %@", wanted.toString(), moved.toString());
    return moved;
}

void appendLines(const QString &lines)
{
    if (!lines.isEmpty())
        LogFiles::addToLogfile(lines);
}

} // namespace

LogicalPath LogFiles::supportFolder()
{
    const std::shared_ptr<const platform::Volume> volume = platform::Volume::current();
    return volume->path(kestrum::hx->suppDir()).value_or(volume->home());
}

LogicalPath LogFiles::runningLog()
{
    return supportFolder().child(kRunningLogName);
}

LogicalPath LogFiles::logFolder()
{
    return supportFolder().child(u"Logfiles");
}

LogicalPath LogFiles::sessionRecords()
{
    return supportFolder().child(u"Quarantine");
}

QString LogFiles::timestamp(const QDateTime &when)
{
    return formatted(when, QStringLiteral("dd.MM.yyyy HH:mm:ss"));
}

QString LogFiles::fallbackTimestamp(const QDateTime &when)
{
    return formatted(when, QStringLiteral("dd.MM.yyyy-HH:mm:ss"));
}

void LogFiles::addToLogfile(const QString &text)
{
    const LogicalPath path = runningLog();
    const std::shared_ptr<const Volume> volume = Volume::current();
    // A log within the limit is read to check it is text; one that is not
    // is replaced. A larger one is only added to: its history is kept.
    const std::optional<platform::ItemStatus> status = volume->status(path, Follow::Final);
    if (status && qint64(status->size) <= kRunningLogLimit) {
        const std::optional<QByteArray> content = volume->readFile(path, kRunningLogLimit);
        // Stateless, so that a sequence cut off at the end counts as an error too.
        // The decoder works when its result is made into text.
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString decoded = content ? utf8.decode(*content) : QString();
        if (!content || utf8.hasError()) {
            volume->writeFile(path, text.toUtf8());
            return;
        }
    }
    volume->appendFile(path, text.toUtf8());
}

LogicalPath LogFiles::writeLogfile(const QString &logName, const QString &identifiers, const QString &filenames,
                                   const QStringList &files, const QStringList &folders,
                                   const std::optional<QStringList> &remaining,
                                   const std::optional<QStringList> &generated, const QDateTime &now,
                                   QString *error, const QString &quarantine)
{
    const LogicalPath path = logFolder().child(makeString("%@.log", fileNameOf(logName)));
    const auto lines = [](const std::optional<QStringList> &list) {
        return list ? list->join(QLatin1Char('\n')) : QString();
    };
    const QString text = makeString("Date: %@\nPackagename: %@\nPackagefilename: %@\n\n\n"
                                     "Uninstalled files: \n%@\n\n\nUninstalled folders: \n%@\n\n\n"
                                     "Uninstalled generated-files: \n%@\n\n\nUninstalled remaining-folders: \n%@",
                                     timestamp(now), identifiers, filenames, files.join(QLatin1Char('\n')),
                                     folders.join(QLatin1Char('\n')), lines(generated), lines(remaining))
                         + quarantine;
    QString reason;
    if ((!Volume::current()->makeFolders(logFolder(), &reason) || !Volume::current()->writeFile(path, text.toUtf8(), &reason)) && error)
        *error = reason.isEmpty() ? QStringLiteral("not written") : reason;
    return path;
}

void LogFiles::migrateLogfiles(const QDateTime &now)
{
    const LogicalPath support = supportFolder();
    const LogicalPath folder = logFolder();
    if (!reachedWithoutLinks(folder))
        return;
    Volume::current()->makeFolders(folder);
    const QString stamp = timestamp(now);
    QString lines;
    for (const QString &name : Volume::current()->list(support).value_or(QStringList())) {
        // The quarantine's session records are undo's, not strays.
        if (name == kRunningLogName || name == folder.name() || name == sessionRecords().name())
            continue;
        const LogicalPath item = support.child(name);
        if (name.endsWith(kLogSuffix)) {
            const LogicalPath moved = moveStrayLog(item, folder);
            lines += makeString("%@: moved old logfile to new logfile folder '%@'\n", stamp, moved.toString());
        } else {
            Volume::current()->removeTree(item);
            lines += makeString("%@: removed dubios file from application support folder '%@'\n", stamp,
                                item.toString());
        }
    }
    appendLines(lines);
}

void LogFiles::pruneOldLogfiles(const QDateTime &now)
{
    const LogicalPath folder = logFolder();
    if (!reachedWithoutLinks(folder))
        return;
    const QString stamp = timestamp(now);
    QString lines;
    for (const QString &name : Volume::current()->list(folder).value_or(QStringList())) {
        const LogicalPath item = folder.child(name);
        const std::optional<platform::ItemStatus> status = Volume::current()->status(item, Follow::NotFinal);
        if (status && now.toMSecsSinceEpoch() - status->createdMSecs > kMaxAgeMSecs) {
            Volume::current()->removeTree(item);
            lines += makeString("%@: removed old logfile '%@'\n", stamp, item.toString());
        }
    }
    appendLines(lines);
}

int LogFiles::logfileFolderMegabytes()
{
    return int(qMin(kestrum::directorySize(logFolder().toString()) / kMegabyte, quint64(INT_MAX)));
}

void LogFiles::checkLogfileFolderSize()
{
    const int megabytes = logfileFolderMegabytes();
    if (megabytes < kWarningMegabytes)
        return;
    const QString message = makeString("Dorvane clears old log-files about uninstallations every month but your "
                                       "logfiles have still grown to %i MB. Do you want to clear out unnecessary "
                                       "logfiles manually now?",
                                       megabytes);
    if (kestrum::alert(QStringLiteral("Warning"), message, QStringLiteral("Open Logfile Folder"),
                       QStringLiteral("Cancel"))
        == 1000)
        platform::Workspace::openUrl(desktopUrl(logFolder()));
}

QStringList LogFiles::logfileMenuTitles()
{
    QStringList titles;
    if (Volume::current()->status(runningLog(), Follow::Final))
        titles << kRunningLogName << QString();
    for (const QString &name : Volume::current()->list(logFolder()).value_or(QStringList())) {
        if (name != kRunningLogName && name.endsWith(kLogSuffix))
            titles << name;
    }
    return titles;
}

LogicalPath LogFiles::pathForMenuTitle(const QString &title)
{
    return title == kRunningLogName ? runningLog() : logFolder().child(fileNameOf(title));
}

bool LogFiles::openLogfile(const QString &title)
{
    return platform::Workspace::openUrl(desktopUrl(pathForMenuTitle(title)));
}

} // namespace dorvane

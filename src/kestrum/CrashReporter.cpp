#include "kestrum/CrashReporter.h"

#include "kestrum/Alert.h"
#include "kestrum/DefaultsKey.h"
#include "kestrum/FileSystem.h"
#include "kestrum/Format.h"
#include "kestrum/Kestrum.h"
#include "kestrum/Log.h"
#include "kestrum/RvHostInformation.h"
#include "platform/Bundle.h"
#include "platform/UserDefaults.h"
#include "platform/Volume.h"
#include "platform/Workspace.h"

#include <QCoreApplication>
#include <QFile>
#include <QLocale>
#include <QUrl>

#include <algorithm>

#include <sys/stat.h>

namespace kestrum {

namespace {

const DefaultsKey kNeverCheck("Kestrum_nevercheckcrashes");
const DefaultsKey kLastCrashDate("Kestrum_lastcrashdate");

// Three days: crashes within them are not asked about again either.
constexpr qint64 kQuietSeconds = 259200;

// What RFC 2396 allows in a URL besides letters and digits; toPercentEncoding
// keeps "-._~" by itself.
const QByteArray kLegalInUrl = "!*'();/?:@&=+$,";

QString infoText(const char *key)
{
    return platform::Bundle::main().infoValue(QString::fromLatin1(key)).toString();
}

QString localized(const char *text)
{
    return QCoreApplication::translate("RvCrashReporter", text);
}

QStringList sortedEntries(const QString &folder)
{
    QStringList names = dirContents(folder).value_or(QStringList());
    std::sort(names.begin(), names.end());
    return names;
}

// The entry's own modification date (a final link is not followed), or
// nothing when its attributes cannot be read.
std::optional<QDateTime> modificationDate(const QString &logical)
{
    const std::optional<platform::LogicalPath> path = platform::volumePath(logical);
    const std::optional<platform::ItemStatus> status =
        path ? platform::Volume::current()->status(*path, platform::Follow::NotFinal) : std::nullopt;
    if (!status)
        return std::nullopt;
    return QDateTime::fromMSecsSinceEpoch(status->modifiedMSecs);
}

QDateTime lastCrashDate()
{
    const QVariant stored = kLastCrashDate.defaultObject();
    if (stored.typeId() == QMetaType::QDateTime && stored.toDateTime().isValid())
        return stored.toDateTime();
    return QDateTime(); // the distant past: every valid date is later
}

bool isLater(const QDateTime &date, const QDateTime &than)
{
    return !than.isValid() || date > than;
}

} // namespace

QStringList RvCrashReporter::reportFolders()
{
    return {platform::Volume::current()->home().child(u"Library/Logs/DiagnosticReports").toFolderString(),
            QStringLiteral("/Library/Logs/DiagnosticReports/")};
}

QDateTime RvCrashReporter::searchStart()
{
    return QLocale(QStringLiteral("en_US")).toDateTime(QStringLiteral("2007 01 01"), QStringLiteral("yyyy dd MM"));
}

std::optional<RvCrashReporter::Report> RvCrashReporter::newestReport(const QString &appName)
{
    QDateTime newest = searchStart();
    std::optional<Report> found;
    for (const QString &folder : reportFolders()) {
        for (const QString &name : sortedEntries(folder)) {
            if (!name.startsWith(appName, Qt::CaseSensitive))
                continue;
            const QString path = folder + name;
            const std::optional<QDateTime> modified = modificationDate(path);
            if (modified && *modified > newest) {
                newest = *modified;
                found = Report{path, *modified};
            }
        }
    }
    return found;
}

QString RvCrashReporter::excerpt(const QByteArray &report)
{
    const QString text = QString::fromUtf8(report);
    const QString lastCrash = text.split(QStringLiteral("**********")).constLast();
    return lastCrash.split(QStringLiteral("Binary Images:")).constFirst();
}

bool RvCrashReporter::matchesSignatures(const QString &excerpt, const std::optional<QStringList> &signatures)
{
    if (!signatures)
        return true;
    return std::any_of(signatures->cbegin(), signatures->cend(),
                       [&](const QString &signature) { return excerpt.contains(signature); });
}

QString RvCrashReporter::inputManagers()
{
    QString text;
    const QStringList libraries{platform::Volume::current()->expandTilde(QStringLiteral("~/Library")),
                                QStringLiteral("/Library"), QStringLiteral("/Network/Library"),
                                QStringLiteral("/System/Library")};
    for (const QString &library : libraries) {
        for (const QString &name : sortedEntries(library + QStringLiteral("/InputManagers/"))) {
            if (name != QLatin1String(".DS_Store"))
                text += makeString(" %@ ", name);
        }
    }
    return text;
}

QString RvCrashReporter::crashMailText(const QString &crashAddress, const QString &excerpt)
{
    const QString appName = infoText("CFBundleName");
    const QString subject = makeString("%@ Crashreport", appName);
    const QVariantMap defaults = platform::UserDefaults::domain(infoText("CFBundleIdentifier")).persistentDomain();
    const QString body = makeString(
        "Unfortunately %@ has crashed!\n\n--%@--\n\n\nMachine Type: %@\nInput Managers: %@\n\nCrash Log (%d):\n\n"
        "**********\n%@\nUser Defaults:\n\n**********\n%@",
        appName, localized("Please fill in additional details here"), RvHostInformation::machineType(),
        inputManagers(), Kestrum::parseBuildNumber(infoText("CFBundleVersion")), excerpt, QVariant(defaults));
    return makeString("mailto:%@?subject=%@&body=%@", crashAddress, subject, body);
}

QByteArray RvCrashReporter::legacyEscaped(const QString &text)
{
    return text.toUtf8().toPercentEncoding(kLegalInUrl);
}

void RvCrashReporter::CheckAndReportCrashes(const QString &crashAddress, const std::optional<QStringList> &signatures)
{
    if (kNeverCheck.defaultInt() != 0)
        return;

    const QString appName = infoText("CFBundleName");
    const std::optional<Report> report = newestReport(appName);
    if (!report)
        return;
    if (!isLater(report->modified, lastCrashDate()))
        return;

    const QString crash = excerpt(contents(report->path).value_or(QByteArray()));
    if (!matchesSignatures(crash, signatures))
        return;

    const int answer = alert(appName + QStringLiteral(" Crash Report"),
                             makeString(localized("It seems like %@ has crashed recently. Please consider sending "
                                                  "the crash-log to help fix this problem. Also make sure you are "
                                                  "using the latest version by using the built-in update mechanism "
                                                  "since most reported crashes are already fixed in the latest "
                                                  "version.")
                                            .toUtf8()
                                            .constData(),
                                        appName),
                             localized("Send"), localized("Never"), localized("Cancel"));

    // Whatever the answer: this report, and any crash of the next three
    // days, is not asked about again.
    kLastCrashDate.setDefaultObject(QDateTime::currentDateTimeUtc().addSecs(kQuietSeconds));

    if (answer == 1001) {
        kNeverCheck.setDefaultInt(1);
    } else if (answer == 1000) {
        const QUrl url = QUrl::fromEncoded(legacyEscaped(crashMailText(crashAddress, crash)));
        if (!platform::Workspace::openUrl(url))
            asl_NSLog(LogWarning, "Warning: %@ was unable to open the URL.", appName);
    }
    if (!platform::UserDefaults::standard().synchronize())
        asl_NSLog(LogWarning, "Warning: shared user defaults controller could not commit editing");
}

} // namespace kestrum

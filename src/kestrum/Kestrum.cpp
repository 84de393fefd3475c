#include "kestrum/Kestrum.h"

#include "kestrum/Alert.h"
#include "kestrum/ExceptionHandler.h"
#include "kestrum/Format.h"
#include "kestrum/NotificationCenter.h"
#include "kestrum/Predicate.h"
#include "kestrum/StringUtilities.h"
#include "platform/Bundle.h"
#include "platform/Host.h"
#include "platform/ProcessEnd.h"
#include "platform/SystemLog.h"
#include "platform/UserDefaults.h"
#include "kestrum/FileSystem.h"
#include "platform/ReadLimits.h"
#include "platform/Volume.h"
#include "platform/Workspace.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <climits>
#include <cstdlib>

namespace kestrum {

Kestrum *hx = nullptr;
platform::UserDefaults *userDefaults = nullptr;
NotificationCenter *notificationCenter = nullptr;
const platform::Bundle *bundle = nullptr;
QCoreApplication *application = nullptr;

const char *const kBuiltInFeedbackAddress = "feedback@dorvane.example";
const char *const kMakerWebSite = "https://www.dorvane.example/";

namespace {

QString info(const char *key)
{
    return platform::Bundle::main().infoValue(QString::fromLatin1(key)).toString();
}

QStringList namesIn(const QString &logicalFolder)
{
    return dirContents(logicalFolder).value_or(QStringList());
}

QUrl logicalFileURL(const QString &logical)
{
    return QUrl::fromLocalFile(logical);
}

} // namespace

Kestrum::Kestrum()
{
    hx = this;
    userDefaults = &platform::UserDefaults::standard();
    if (!notificationCenter)
        notificationCenter = new NotificationCenter(); // lives as long as the process, like the other globals
    bundle = &platform::Bundle::main();
    application = QCoreApplication::instance();

    if (const std::optional<platform::LogicalPath> support = platform::volumePath(suppDir()))
        platform::Volume::current()->makeFolders(*support);
    installUncaughtExceptionHandler();

    if (!frameworksAreIntact(bundle->privateFrameworksPath())) {
        alert_apptitled(QStringLiteral("This application is damaged. Either your download was damaged or you used a "
                                       "faulty program to extract the ZIP archive. Please re-download and use the "
                                       "ZIP decrompression built into Mac OS X."),
                        QStringLiteral("OK"));
        platform::endProcess(0);
    }
}

bool Kestrum::frameworksAreIntact(const QString &frameworksPath)
{
    // The folder is asked through a door of its own, so a framework that
    // leads out of it is not found there, and counts as damaged.
    const std::shared_ptr<const platform::Volume> folder =
        frameworksPath.isEmpty() ? nullptr : platform::Volume::open(frameworksPath, QStringLiteral("/"));
    if (!folder)
        return true;
    for (const QString &entry : folder->list(folder->top()).value_or(QStringList())) {
        // The framework's binary: "Name.framework/Name", a link in an intact copy.
        const std::optional<platform::LogicalPath> binary =
            folder->path(makeString("%@/%@/%@", folder->top().toString(), entry, QFileInfo(entry).completeBaseName()));
        const std::optional<platform::ItemStatus> status =
            binary ? folder->status(*binary, platform::Follow::NotFinal) : std::nullopt;
        if (!status || !status->isLink())
            return false;
    }
    return true;
}

QString Kestrum::prefsPath() const
{
    return platform::Volume::current()->expandTilde(makeString("~/Library/Preferences/%@.plist", appBundleIdentifier()));
}

QUrl Kestrum::prefsURL() const
{
    return logicalFileURL(prefsPath());
}

QStringList Kestrum::appCrashLogs() const
{
    const QStringList all = namesIn(QStringLiteral("~/Library/Logs/DiagnosticReports/"))
        + namesIn(QStringLiteral("/Library/Logs/DiagnosticReports/"));
    return filteredUsingPredicateString(all, "self BEGINSWITH[cd] %@", appName());
}

std::optional<QStringList> Kestrum::appSystemLogEntries() const
{
    return platform::SystemLog::messagesFromSender(appName());
}

QString Kestrum::appBundleIdentifier() const
{
    return info("CFBundleIdentifier");
}

QString Kestrum::appVersionString() const
{
    return info("CFBundleShortVersionString");
}

QString Kestrum::appName() const
{
    return info("CFBundleName");
}

qint32 Kestrum::parseBuildNumber(const QString &text)
{
    static const QRegularExpression leading(QStringLiteral("^\\s*([+-]?\\d+)"));
    const QRegularExpressionMatch match = leading.match(text);
    if (!match.hasMatch())
        return 0;
    bool ok = false;
    const qlonglong n = match.captured(1).toLongLong(&ok);
    if (!ok)
        return match.captured(1).startsWith(QLatin1Char('-')) ? INT32_MIN : INT32_MAX;
    return qint32(std::clamp<qlonglong>(n, INT32_MIN, INT32_MAX));
}

qint32 Kestrum::appBuildNumber() const
{
    return parseBuildNumber(info("CFBundleVersion"));
}

QString Kestrum::resDir() const
{
    return platform::Bundle::main().resourcesPath();
}

QUrl Kestrum::resURL() const
{
    return QUrl::fromLocalFile(resDir());
}

QString Kestrum::docDir() const
{
    return platform::Volume::current()->expandTilde(QStringLiteral("~/Documents"));
}

QUrl Kestrum::docURL() const
{
    return logicalFileURL(docDir());
}

QString Kestrum::deskDir() const
{
    return platform::Volume::current()->expandTilde(QStringLiteral("~/Desktop"));
}

QUrl Kestrum::deskURL() const
{
    return logicalFileURL(deskDir());
}

QUrl Kestrum::homeURL() const
{
    return logicalFileURL(platform::Volume::current()->home().toString());
}

QString Kestrum::suppDir() const
{
    return platform::Volume::current()->home().child(u"Library/Application Support").child(appName()).toString();
}

QUrl Kestrum::suppURL() const
{
    return logicalFileURL(suppDir());
}

QString Kestrum::productSlug(const QString &appName)
{
    const QString firstWord = appName.toLower().split(QRegularExpression(QStringLiteral("\\s+")),
                                                      Qt::SkipEmptyParts).value(0);
    return firstWord.section(QLatin1Char('-'), 0, 0);
}

QString Kestrum::urlTextForChoice(quint8 choice) const
{
    switch (choice) {
    case openSupportMail: {
        QString address = info("FeedbackEmail");
        if (platform::Bundle::main().infoValue(QStringLiteral("FeedbackEmail")).isNull())
            address = QString::fromLatin1(kBuiltInFeedbackAddress);
        const QString subject = makeString("%@ v%@ (%i) Support Request", appName(), appVersionString(),
                                           appBuildNumber());
        const qsizetype problems = appCrashLogs().size();
        const QString problemText = problems > 0 ? makeString(" Problems: %li", qint64(problems)) : QString();
        QString attachment;
        if (platform::Workspace::isAltKeyHeld()) {
            if (const std::optional<QByteArray> prefs = contents(prefsPath(), platform::ReadLimit::kPreferences))
                attachment = QString::fromLatin1(prefs->toBase64());
        }
        const QString body = makeString("<Insert Support Request Here>\n\n\n\nP.S: Hardware: %@ Software: %@%@\n%@",
                                        _machineType(), platform::Host::operatingSystemVersion(), problemText,
                                        attachment);
        return makeString("mailto:%@?subject=%@&body=%@", address, subject, body);
    }
    case openBetaMail:
        return QStringLiteral("mailto:") + info("FeedbackEmail")
            + makeString("?subject=%@ Beta Versions&body=Hello\nI would like to test upcoming beta versions of %@.\nBye\n",
                         appName(), appName());
    case openVendorPage: {
        const QVariant page = platform::Bundle::main().infoValue(QStringLiteral("VendorProductPage"));
        if (page.isValid())
            return page.toString();
        return makeString("%@%@/", kMakerWebSite, productSlug(appName()));
    }
    case openStorePage:
        return info("StoreProductPage");
    case openStoreApp:
        return info("StoreProductPage").replace(QStringLiteral("https"), QStringLiteral("macappstore"));
    case openMacupdatePage:
        return info("MacupdateProductPage");
    default:
        return QString();
    }
}

void Kestrum::openURL(quint8 choice) const
{
    const QString text = urlTextForChoice(choice);
    if (text.isEmpty())
        return; // an unknown choice names no address, so nothing opens
    platform::Workspace::openUrl(QUrl::fromEncoded(escaped(text).toLatin1()));
}

QString makeTempFolder()
{
    const QString identifier = platform::Bundle::main().identifier();
    QByteArray path = QFile::encodeName(QDir::tempPath() + QLatin1Char('/') + identifier + QLatin1String(".XXXXXX"));
    if (!::mkdtemp(path.data()))
        return QString();
    return QFile::decodeName(path);
}

QString _machineType()
{
    return platform::Host::machineModel();
}

bool _isUserAdmin()
{
    return platform::Host::isUserAdmin();
}

} // namespace kestrum

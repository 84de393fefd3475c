#include "dorvane/planning/UninstallChecks.h"

#include "dorvane/planning/SystemLists.h"
#include "dorvane/receipts/PackageHelperNative.h"
#include "kestrum/Alert.h"
#include "kestrum/Feedback.h"
#include "kestrum/FileSystem.h"
#include "kestrum/Format.h"
#include "platform/Volume.h"
#include "platform/Workspace.h"

#include <QUrl>

namespace dorvane {

namespace {

// The uninstaller lies on the volume; the desktop opens it where it really is.
QUrl onTheVolume(const QString &logical)
{
    const std::shared_ptr<const platform::Volume> volume = platform::Volume::current();
    const std::optional<platform::LogicalPath> path = volume->path(logical);
    return path ? QUrl::fromLocalFile(volume->physicalPath(*path)) : QUrl();
}

constexpr int kFirstButton = 1000;
constexpr int kThirdButton = 1002;

const QString kOpenUninstaller = QStringLiteral("Open Uninstaller");
const QString kCancel = QStringLiteral("Cancel");

} // namespace

const UninstallChecks::VendorUninstaller &UninstallChecks::avira()
{
    static const VendorUninstaller vendor{
        QStringLiteral("com.avira.pkg.AviraMacSecurity"),
        QStringLiteral("/Applications/Utilities/Avira-Uninstall.app/Contents/MacOS/Avira-Uninstall"),
        QStringLiteral("/Applications/Utilities/Avira-Uninstall.app"),
    };
    return vendor;
}

const UninstallChecks::VendorUninstaller &UninstallChecks::crashPlan()
{
    static const VendorUninstaller vendor{
        QStringLiteral("com.crashplan.app.pkg"),
        QStringLiteral("/Applications/CrashPlan.app/Contents/.Uninstall.app/Contents/MacOS/applet"),
        QStringLiteral("/Applications/CrashPlan.app/Contents/.Uninstall.app"),
    };
    return vendor;
}

bool UninstallChecks::mayPlan(const QList<PackageRecord> &selection)
{
    m_stopReason.clear();
    return refuseEssentialPackages(selection) && stopForChangedReceipts(selection)
           && offerVendorUninstallers(selection);
}

bool UninstallChecks::refuseEssentialPackages(const QList<PackageRecord> &selection)
{
    for (const PackageRecord &record : selection) {
        const QString identifier = record.packageIdentifier();
        if (!SystemLists::isEssentialPackage(identifier))
            continue;
        const QString message = kestrum::makeString(
            "You can't uninstall the essential system package '%@' as this would make your system unusable. Please "
            "take more care when uninstalling in the future or you may damage your system.",
            identifier);
        kestrum::alert(QStringLiteral("Error"), message, QStringLiteral("OK"));
        m_stopReason = message;
        return false;
    }
    return true;
}

// A modern receipt whose list or bill is gone was (partly) uninstalled by
// hand since the scan: the catalogue no longer describes the disk. Legacy
// bundles keep both inside the bundle and are not checked.
bool UninstallChecks::stopForChangedReceipts(const QList<PackageRecord> &selection)
{
    for (const PackageRecord &record : selection) {
        if (!record.pkgPath().isEmpty())
            continue;
        if (kestrum::fileExists(record.plistPath()) && kestrum::fileExists(record.bomPath()))
            continue;
        const QString message = kestrum::makeString(
            "It seems you have already manually uninstalled parts of the package '%@' since the scan has completed. "
            "Therefore uninstallation can not continue. If you didn't do so, please send the feedback to us and we "
            "will invesitgate the issue.",
            record.packageIdentifier());
        const QStringList receipts =
            kestrum::dirContents(PackageHelperNative::kSystemReceipts).value_or(QStringList());
        kestrum::alert_feedback_nonfatal(
            message, kestrum::makeString("%@\n%@", receipts.join(QStringLiteral(", ")), record.description()));
        m_stopReason = message;
        return false;
    }
    return true;
}

bool UninstallChecks::offerVendorUninstallers(const QList<PackageRecord> &selection)
{
    for (const PackageRecord &record : selection) {
        const QString identifier = record.packageIdentifier();
        if (identifier == avira().packageIdentifier) {
            if (!kestrum::fileExists(avira().executable))
                continue;
            const int answer = kestrum::alert_apptitled(
                QStringLiteral("Dorvane has detected that you are trying to uninstall 'Avira', which also has a "
                               "native Uninstaller included. Using a native Uninstaller is always preferable. Would "
                               "you like open the open the native 'Avira' Uninstaller now?"),
                kOpenUninstaller, kCancel, QStringLiteral("Uninstall Anyway"));
            if (!followAnswer(answer, onTheVolume(avira().application), QStringLiteral("Avira")))
                return false;
        } else if (identifier == crashPlan().packageIdentifier) {
            int answer = 0;
            QUrl target;
            if (kestrum::fileExists(crashPlan().executable)) {
                answer = kestrum::alert_apptitled(
                    QStringLiteral("Dorvane is currently unable to uninstall 'CrashPlan'. However, a native "
                                   "Uninstaller is included with 'CrashPlan'. Would you like open the open the "
                                   "native 'CrashPlan' Uninstaller now?"),
                    kOpenUninstaller, kCancel, QStringLiteral("Try Uninstall Anyway"));
                target = onTheVolume(crashPlan().application);
            } else {
                answer = kestrum::alert_apptitled(
                    QStringLiteral("Dorvane is currently unable to uninstall 'CrashPlan'. However, a native "
                                   "Uninstaller is available in the 'CrashPlan' download disk image. Would you like "
                                   "open the open the 'CrashPlan' download website now?"),
                    QStringLiteral("Open download page"), kCancel, QStringLiteral("Try Uninstall Anyway"));
                target = QUrl(kCrashPlanDownloadPage);
            }
            if (!followAnswer(answer, target, QStringLiteral("CrashPlan")))
                return false;
        }
    }
    return true;
}

bool UninstallChecks::followAnswer(int answer, const QUrl &firstButtonTarget, const QString &vendor)
{
    if (answer == kThirdButton)
        return true;
    if (answer == kFirstButton) {
        platform::Workspace::openUrl(firstButtonTarget);
        m_stopReason = QStringLiteral("'%1' is to be uninstalled with its own uninstaller, which was opened.").arg(vendor);
    } else {
        m_stopReason = QStringLiteral("'%1' brings its own uninstaller, and uninstalling it anyway was not chosen.")
                           .arg(vendor);
    }
    return false;
}

} // namespace dorvane

#pragma once

#include "dorvane/receipts/PackageRecord.h"

#include <QList>
#include <QString>
#include <QUrl>

namespace dorvane {

// What is asked before an uninstall is planned: the system's essential
// packages are refused, packages partly removed since the scan stop the
// uninstall (the catalogue no longer says what is there), and the two
// vendors that ship their own uninstaller are offered it first. Asks
// through the alert functions, so whoever presents alerts (the desktop, the
// command line, a test) answers; needs no window. Main thread.
class UninstallChecks
{
public:
    struct VendorUninstaller
    {
        QString packageIdentifier;
        QString executable;   // its presence means the uninstaller is installed
        QString application;  // what "Open Uninstaller" opens
    };
    static const VendorUninstaller &avira();
    static const VendorUninstaller &crashPlan();
    // Where CrashPlan's uninstaller can be had when its application lacks one.
    static inline const QString kCrashPlanDownloadPage = QStringLiteral("https://www.crashplan.com/en-us/download/");

    // True when planning may go on. False when a check stopped it; then
    // stopReason() says why, in one line for the command line.
    bool mayPlan(const QList<PackageRecord> &selection);
    QString stopReason() const { return m_stopReason; }
    // Forgetting a receipt only needs the first check: an essential
    // package's receipt stays.
    bool mayForget(const QList<PackageRecord> &selection) { return refuseEssentialPackages(selection); }

private:
    bool refuseEssentialPackages(const QList<PackageRecord> &selection);
    bool stopForChangedReceipts(const QList<PackageRecord> &selection);
    bool offerVendorUninstallers(const QList<PackageRecord> &selection);
    // The answer to a vendor's question: true to go on with the next record.
    bool followAnswer(int answer, const QUrl &firstButtonTarget, const QString &vendor);

    QString m_stopReason;
};

} // namespace dorvane

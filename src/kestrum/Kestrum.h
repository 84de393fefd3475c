#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

class QCoreApplication;

namespace platform {
class Bundle;
class UserDefaults;
}

namespace kestrum {

class NotificationCenter;

// The choices of Kestrum::openURL, as menu items and buttons carry them in
// their tag (taken modulo 256).
enum KestrumOpenChoice : quint8 {
    openSupportMail = 1,
    openBetaMail = 2,
    openVendorPage = 3,
    openStorePage = 4,
    openStoreApp = 5,
    openMacupdatePage = 6,
};

// What the running application knows about itself: its identity from the
// bundle's Info.plist, its folders on the volume, its crash reports and log
// messages, and the maker's pages and mails. Nothing is cached: every answer
// is read afresh.
class Kestrum
{
public:
    // Creating the one instance fills the globals, creates the support
    // folder and checks the bundle's embedded frameworks.
    Kestrum();
    Kestrum(const Kestrum &) = delete;
    Kestrum &operator=(const Kestrum &) = delete;

    QString prefsPath() const;                  // logical
    QUrl prefsURL() const;
    QStringList appCrashLogs() const;           // bare names, user folder first
    std::optional<QStringList> appSystemLogEntries() const;
    QString appBundleIdentifier() const;
    QString appVersionString() const;
    QString appName() const;
    qint32 appBuildNumber() const;
    QString resDir() const;                     // physical: the bundle is on this machine
    QUrl resURL() const;
    QString docDir() const;                     // logical
    QUrl docURL() const;
    QString deskDir() const;                    // logical
    QUrl deskURL() const;
    QUrl homeURL() const;
    QString suppDir() const;                    // logical
    QUrl suppURL() const;

    void openURL(quint8 choice) const;
    // The address openURL opens for a choice, before percent-encoding;
    // empty for an unknown choice.
    QString urlTextForChoice(quint8 choice) const;

    // The product slug of the maker's page: the name in lower case, its
    // first word, cut before the first "-".
    static QString productSlug(const QString &appName);
    // Leading-integer parsing of a build number: "12a" is 12, junk is 0.
    static qint32 parseBuildNumber(const QString &text);
    // False at the first framework of the bundle whose binary is not a link.
    static bool frameworksAreIntact(const QString &frameworksPath);
};

// The shared instance and the platform's shared services, filled once by
// Kestrum's constructor and read from any thread afterwards.
extern Kestrum *hx;
extern platform::UserDefaults *userDefaults;
extern NotificationCenter *notificationCenter;
extern const platform::Bundle *bundle;
extern QCoreApplication *application;

// Built-in addresses used when the Info.plist does not name one.
extern const char *const kBuiltInFeedbackAddress;
extern const char *const kMakerWebSite;

// A new, uniquely named folder in the machine's temporary folder named after
// the bundle identifier; empty when it cannot be made.
QString makeTempFolder();
// The hardware model identifier, or "".
QString _machineType();
// Whether the login user is listed in the administrators' group.
bool _isUserAdmin();

} // namespace kestrum

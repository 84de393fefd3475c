#pragma once

#include "platform/DaemonJob.h"

#include <QString>
#include <QVariantMap>

#include <optional>

namespace dorvane {

// Why the helper tool could not be installed: "auth" 0 when the user did not
// authorize, "domain" 999 (with the reason in userInfo) when installing
// failed.
struct HelperError
{
    QString domain;
    qint64 code = 0;
    QVariantMap userInfo;

    // "Error Domain=auth Code=0", with " UserInfo={key=value, ...}" when
    // there is user information.
    QString description() const;
};

// The helper's job as it stands, for the command line.
struct HelperStatus
{
    bool installed = false;                  // a job is registered
    QString installedTool;                   // the job's first program argument
    std::optional<QString> installedVersion;
    std::optional<QString> shippedVersion;
    bool running = false;                    // its socket accepts a connection
    QString socketPath;                      // logical
    std::optional<qint64> pid;
};

// Installs the privileged helper tool shipped in the bundle as a root daemon
// of the volume, and replaces it when the installed tool's version is not
// the shipped one's (equality only: a newer installed tool is replaced too).
class HelperInstaller
{
public:
    // Nothing when the helper is installed, current and answering, or has
    // just been installed; *installed tells which. Not running as root, the
    // work is handed to the command line through pkexec, which asks for an
    // administrator's password.
    static std::optional<HelperError> blessHelper(bool *installed = nullptr);

    // "CFBundleVersion" of the Info.plist embedded in the executable at the
    // logical path, read through the volume; nothing when it has none. An
    // unreadable file or a broken section table is logged at level 3.
    static std::optional<QString> bundleVersionForCodeSignedItemAtURL(const QString &path);

    static HelperStatus helperStatus();

    // Stops the daemon and removes its job and tool; through pkexec when not
    // running as root. False with the reason in *error.
    static bool removeHelper(QString *error);

    // Whom the daemon serves besides root: the user pkexec or sudo ran the
    // program for, else the user running it.
    static uint servedUser();

    // The tool in the bundle. A program run outside a bundle (a test, a
    // copied command line) takes the bundle named by $DORVANE_BUNDLE_DIR.
    static QString bundlePath();
    static QString shippedToolPath();

    static platform::DaemonJob::Places places();
};

} // namespace dorvane

#include "dorvane/toolclient/HelperInstaller.h"

#include "helperwire/HelperLabel.h"
#include "kestrum/Format.h"
#include "kestrum/Log.h"
#include "platform/Bundle.h"
#include "platform/ExecutableInfo.h"
#include "platform/ReadLimits.h"
#include "platform/ServiceManagement.h"
#include "platform/Volume.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

#include <cerrno>
#include <unistd.h>

namespace dorvane {

using platform::LogicalPath;
using platform::Volume;

namespace {

const QString kReasonKey = QStringLiteral("NSLocalizedFailureReason");

HelperError installError(const QString &reason)
{
    return {QStringLiteral("domain"), 999, {{kReasonKey, reason}}};
}

// The bytes of the shipped tool, a file of our own bundle.
std::optional<QByteArray> shippedTool(QString *error)
{
    QFile file(HelperInstaller::shippedToolPath());
    if (!file.open(QIODevice::ReadOnly) || file.size() > platform::ReadLimit::kExecutable) {
        *error = QStringLiteral("the helper tool %1 cannot be read: %2").arg(file.fileName(), file.errorString());
        return std::nullopt;
    }
    return file.readAll();
}

std::optional<QString> shippedVersion()
{
    QString unused;
    const std::optional<QByteArray> tool = shippedTool(&unused);
    return tool ? platform::ExecutableInfo::bundleVersion(*tool, helperwire::InfoPlistSection) : std::nullopt;
}

// The installed tool's path: the first of the job's program arguments.
QString programOf(const QVariantMap &job)
{
    const QVariantList arguments = job.value(QStringLiteral("ProgramArguments")).toList();
    return arguments.isEmpty() ? QString() : arguments.first().toString();
}

// An errno-like status for a tool that cannot be read as an executable.
int unreadableStatus(const LogicalPath &path, std::optional<QByteArray> &bytes)
{
    const std::optional<platform::ItemStatus> status = Volume::current()->status(path, platform::Follow::Final);
    if (!status)
        return ENOENT;
    if (!status->isFile())
        return ENOEXEC;
    if (qint64(status->size) > platform::ReadLimit::kExecutable)
        return EFBIG;
    bytes = Volume::current()->readFile(path, platform::ReadLimit::kExecutable);
    if (!bytes)
        return EACCES;
    return platform::ExecutableInfo::isElf(*bytes) ? 0 : ENOEXEC;
}

// Runs the command line as root through pkexec, which asks for an
// administrator's password and tells the command whom it runs for.
std::optional<HelperError> runAsAdministrator(const QString &command, QString *reason, QByteArray *said = nullptr)
{
    const HelperError refused{QStringLiteral("auth"), 0, {}};
    const QString pkexec = QStandardPaths::findExecutable(QStringLiteral("pkexec"));
    if (pkexec.isEmpty())
        return refused;
    QProcess process;
    process.start(pkexec, {HelperInstaller::bundlePath() + QStringLiteral("/Contents/SharedSupport/bin/dorvane"),
                           QStringLiteral("--root"), Volume::current()->root(), QStringLiteral("--home"),
                           Volume::current()->home().toString(), QStringLiteral("helper"), command});
    // As long as the password prompt is open.
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit)
        return refused;
    // 126: the prompt was dismissed; 127: not authorized, or pkexec failed.
    if (process.exitCode() == 126 || process.exitCode() == 127)
        return refused;
    if (process.exitCode() != 0) {
        *reason = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
        return installError(*reason);
    }
    if (said)
        *said = process.readAllStandardOutput();
    return std::nullopt;
}

} // namespace

QString HelperError::description() const
{
    QString text = QStringLiteral("Error Domain=%1 Code=%2").arg(domain).arg(code);
    if (!userInfo.isEmpty()) {
        QStringList entries;
        for (auto it = userInfo.cbegin(); it != userInfo.cend(); ++it)
            entries << it.key() + QLatin1Char('=') + kestrum::describe(it.value());
        text += QStringLiteral(" UserInfo={%1}").arg(entries.join(QStringLiteral(", ")));
    }
    return text;
}

platform::DaemonJob::Places HelperInstaller::places()
{
    return {helperwire::helperLabel(), helperwire::installedToolPath(), helperwire::jobPlistPath(),
            helperwire::socketPath(), helperwire::pidFilePath()};
}

QString HelperInstaller::bundlePath()
{
    const QString bundle = platform::Bundle::main().path();
    return bundle.isEmpty() ? qEnvironmentVariable("DORVANE_BUNDLE_DIR") : bundle;
}

QString HelperInstaller::shippedToolPath()
{
    return bundlePath() + QLatin1Char('/') + helperwire::shippedToolRelativePath();
}

uint HelperInstaller::servedUser()
{
    for (const char *variable : {"PKEXEC_UID", "SUDO_UID"}) {
        bool ok = false;
        const uint uid = qEnvironmentVariable(variable).toUInt(&ok);
        if (ok)
            return uid;
    }
    return ::getuid();
}

std::optional<QString> HelperInstaller::bundleVersionForCodeSignedItemAtURL(const QString &path)
{
    const std::optional<LogicalPath> made = platform::volumePath(path);
    if (!made)
        return std::nullopt;
    const LogicalPath &logical = *made;
    const QString url = QUrl::fromLocalFile(logical.toString()).toString();
    std::optional<QByteArray> bytes;
    if (const int status = unreadableStatus(logical, bytes)) {
        kestrum::asl_NSLog(kestrum::LogError, "SecStaticCodeCreateWithPath() error for %@: %d", url, status);
        return std::nullopt;
    }
    if (!platform::ExecutableInfo::hasSoundSectionTable(*bytes)) {
        kestrum::asl_NSLog(kestrum::LogError, "SecCodeCopySigningInformation() error for %@: %d", url, EINVAL);
        return std::nullopt;
    }
    return platform::ExecutableInfo::bundleVersion(*bytes, helperwire::InfoPlistSection);
}

std::optional<HelperError> HelperInstaller::blessHelper(bool *installed)
{
    if (installed)
        *installed = false;
    const std::optional<QVariantMap> job = platform::ServiceManagement::copyJobDictionary(helperwire::helperLabel());
    if (job) {
        const std::optional<QString> current = bundleVersionForCodeSignedItemAtURL(programOf(*job));
        const std::optional<QString> shipped = shippedVersion();
        // Nothing else is compared: a newer installed tool is replaced too.
        if (shipped && shipped == current && platform::DaemonJob::answers(places()))
            return std::nullopt;
        // A current tool whose daemon stopped (the machine restarted) is
        // started again as it is, where the caller may, asking nothing.
        QString reason;
        if (shipped && shipped == current && ::geteuid() == 0 && platform::DaemonJob::launch(places(), &reason))
            return std::nullopt;
    }
    if (::geteuid() != 0) {
        QString reason;
        QByteArray said;
        const std::optional<HelperError> error = runAsAdministrator(QStringLiteral("install"), &reason, &said);
        if (installed) // the command's own report: "installed" or "up to date"
            *installed = said.startsWith("installed ");
        return error;
    }
    QString reason;
    if (job && !platform::DaemonJob::remove(places(), &reason))
        kestrum::asl_NSLog(kestrum::LogError, QStringLiteral("Warning: couldn't SMJobRemove"));
    const std::optional<QByteArray> tool = shippedTool(&reason);
    if (!tool)
        return installError(reason);
    const QVariantMap dictionary = platform::DaemonJob::jobDictionary(
        places(), {servedUser(), Volume::current()->home(), QString::fromLatin1(helperwire::VolumeRootKey),
                   QString::fromLatin1(helperwire::ServedUserKey), QString::fromLatin1(helperwire::ServedHomeKey)});
    if (!platform::DaemonJob::install(places(), *tool, dictionary, &reason))
        return installError(reason);
    if (installed)
        *installed = true;
    return std::nullopt;
}

HelperStatus HelperInstaller::helperStatus()
{
    HelperStatus status;
    const std::optional<QVariantMap> job = platform::ServiceManagement::copyJobDictionary(helperwire::helperLabel());
    status.installed = job.has_value();
    if (job) {
        status.installedTool = programOf(*job);
        status.installedVersion = bundleVersionForCodeSignedItemAtURL(status.installedTool);
    }
    status.shippedVersion = shippedVersion();
    status.running = platform::DaemonJob::answers(places());
    status.socketPath = helperwire::socketPath().toString();
    status.pid = platform::DaemonJob::runningPid(places());
    return status;
}

bool HelperInstaller::removeHelper(QString *error)
{
    if (::geteuid() != 0) {
        const std::optional<HelperError> refused = runAsAdministrator(QStringLiteral("remove"), error);
        if (refused && refused->domain == QLatin1String("auth"))
            *error = QStringLiteral("removing the helper tool needs an administrator's authorization");
        return !refused;
    }
    return platform::DaemonJob::remove(places(), error);
}

} // namespace dorvane

#include "kestrum/Feedback.h"

#include "kestrum/Alert.h"
#include "kestrum/Dispatch.h"
#include "kestrum/Format.h"
#include "kestrum/Kestrum.h"
#include "kestrum/Log.h"
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

#include <QFile>

namespace kestrum {

namespace {

constexpr qsizetype kShownDetailsLength = 400;

QString infoText(const char *key)
{
    return platform::Bundle::main().infoValue(QString::fromLatin1(key)).toString();
}

// A fatal error may be reported from any thread, even from std::terminate,
// and ends the process from inside a modal alert while the reporting thread
// is blocked mid-call: so it ends through platform::endProcess, which writes
// what waits and runs no static destructor.
[[noreturn]] void endProcessWithFailure()
{
    platform::endProcess(1);
}

QString preferencesAttachment()
{
    // Before the shared instance exists, the standard domain's file is the same one.
    // The report carries the last log lines, which may not be written yet.
    platform::UserDefaults::standard().synchronize();
    const QString path = hx ? hx->prefsPath() : platform::UserDefaults::standard().logicalFilePath();
    const std::optional<QByteArray> prefs = contents(path, platform::ReadLimit::kPreferences);
    return prefs ? QString::fromLatin1(prefs->toBase64()) : QString();
}

void showFeedback(const QString &message, const QString &details, bool fatal)
{
    const int answer = alert(fatal ? QStringLiteral("Fatal Error") : QStringLiteral("Error"),
                             feedbackAlertText(message, feedbackShownDetails(details)),
                             QString::fromLatin1(kFeedbackSendButton),
                             fatal ? QStringLiteral("Quit") : QStringLiteral("Continue"));
    if (answer == 1000) {
        // Whether a mail program took it is not the user's concern here.
        platform::Workspace::openUrl(queryEscapedUrl(feedbackMailText(message, details, fatal,
                                                                      currentFeedbackFacts())));
    }
    if (fatal)
        endProcessWithFailure();
}

} // namespace

QString feedbackShownDetails(const QString &details)
{
    if (details.size() <= kShownDetailsLength)
        return details;
    return makeString("%@  \u2026\n(Remaining message omitted)", clamp(details, kShownDetailsLength));
}

QString feedbackAlertText(const QString &message, const QString &details)
{
    return makeString("%@\n\n You can contact our support with detailed information so that we can fix this "
                      "problem.\n\nInformation: %@",
                      message, details);
}

FeedbackFacts currentFeedbackFacts()
{
    FeedbackFacts facts;
    facts.appName = infoText("CFBundleName");
    facts.appVersion = infoText("CFBundleShortVersionString");
    facts.buildNumber = Kestrum::parseBuildNumber(infoText("CFBundleVersion"));
    facts.machineType = _machineType();
    facts.systemVersion = platform::Host::operatingSystemVersion();
    facts.userIsAdmin = _isUserAdmin();
    facts.crashReportCount = hx ? hx->appCrashLogs().size() : 0;
    facts.preferences = preferencesAttachment();
    facts.logMessages = platform::SystemLog::messagesFromSender(facts.appName);
    return facts;
}

QString feedbackMailText(const QString &message, const QString &details, bool fatal, const FeedbackFacts &facts)
{
    const QString subject = makeString("%@ v%@ (%i) Problem Report", facts.appName, facts.appVersion,
                                       facts.buildNumber);
    const QString problems = facts.crashReportCount > 0
        ? makeString(" Problems: %li", qint64(facts.crashReportCount))
        : QString();
    const QVariant messages = facts.logMessages ? QVariant(*facts.logMessages) : QVariant();
    const QString body = makeString(
        "Hello\nA %@ error in %@ occured (%@).\n\nBye\n\nP.S. Details: %@\n\n\nP.P.S: Hardware: %@ Software: %@ "
        "Admin: %i%@\n\nPreferences: %@\n Messages: %@\n",
        fatal ? "fatal" : "", facts.appName, message, details, facts.machineType, facts.systemVersion,
        facts.userIsAdmin ? 1 : 0, problems, facts.preferences, messages);
    return QStringLiteral("mailto:") + QString::fromLatin1(kBuiltInFeedbackAddress) + QStringLiteral("?subject=")
        + subject + QStringLiteral("&body=") + body;
}

QUrl queryEscapedUrl(const QString &text)
{
    return QUrl::fromEncoded(escaped(text).toLatin1());
}

void alert_feedback(const QString &message, const QString &details, bool fatal)
{
    asl_NSLog(LogError, "alert_feedback %@ %@", message, details);
    dispatch_sync_main([&] { showFeedback(message, details, fatal); });
    if (fatal)
        endProcessWithFailure();
}

void alert_feedback_nonfatal(const QString &message, const QString &details)
{
    alert_feedback(message, details, false);
}

void alert_feedback_fatal(const QString &message, const QString &details)
{
    alert_feedback(message, details, true);
    endProcessWithFailure();
}

} // namespace kestrum

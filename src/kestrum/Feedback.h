#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

namespace kestrum {

// Error feedback: an error the program cannot handle is shown to the user
// with the offer to mail a problem report to the maker's support. Nothing is
// sent without the user: the report is composed in the mail program.
//
// Any thread may call these. The message is logged on the calling thread,
// then the alert runs on the main thread while the caller waits for it.

// The report alert's first button.
inline constexpr char kFeedbackSendButton[] = "Send to support";

// Shows the error alert and, after "Send to support", opens the problem
// report. With `fatal` set the process ends with status 1 afterwards,
// whichever button was chosen.
void alert_feedback(const QString &message, const QString &details, bool fatal);
void alert_feedback_nonfatal(const QString &message, const QString &details);
[[noreturn]] void alert_feedback_fatal(const QString &message, const QString &details);

// The machine and program facts a problem report carries besides the error.
struct FeedbackFacts
{
    QString appName;
    QString appVersion;
    qint32 buildNumber = 0;
    QString machineType;
    QString systemVersion;
    bool userIsAdmin = false;
    qsizetype crashReportCount = 0;
    QString preferences;                  // base64 of the preference file, no line breaks
    std::optional<QStringList> logMessages; // the application's system-log messages
};

// The facts of the running program, read now.
FeedbackFacts currentFeedbackFacts();

// The details as the alert shows them: 401 characters or more are cut to
// their first 400 and marked as shortened.
QString feedbackShownDetails(const QString &details);

// The alert's informative text.
QString feedbackAlertText(const QString &message, const QString &details);

// The problem report's "mailto:" text before percent-encoding; the full
// details go into it, never the shortened ones.
QString feedbackMailText(const QString &message, const QString &details, bool fatal, const FeedbackFacts &facts);

// The text percent-encoded as the program's mail and web links are (escaped()): every
// character outside the URL-query-allowed set is encoded, so line breaks of
// a mail body become %0A.
QUrl queryEscapedUrl(const QString &text);

} // namespace kestrum

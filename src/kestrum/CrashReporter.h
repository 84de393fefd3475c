#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>

namespace kestrum {

// The crash-report check at start-up: finds the newest crash report of this
// application that is newer than the last one asked about, and when its
// excerpt mentions the program's own code asks the user whether to mail it
// to the maker. Runs on the main thread and blocks it while asking.
//
// Its settings, in the standard user defaults:
//   "Kestrum_nevercheckcrashes"  non-zero: never check (set by "Never")
//   "Kestrum_lastcrashdate"      reports modified at or before it are not
//                                offered; absent means the distant past
// Settings are written at once (platform::UserDefaults), so there is no
// pending edit to commit after the question.
class RvCrashReporter
{
public:
    RvCrashReporter() = delete;

    // `signatures`: a report is offered only when its excerpt contains one
    // of them; std::nullopt offers any report.
    static void CheckAndReportCrashes(const QString &crashAddress, const std::optional<QStringList> &signatures);

    // The folders searched, user first; logical.
    static QStringList reportFolders();

    struct Report
    {
        QString path;        // logical
        QDateTime modified;
    };
    // The most recently modified report whose name begins with `appName`
    // (case-sensitive) in reportFolders(), when it is later than 1 January
    // 2007; on equal dates the first found wins (folders in order, names in
    // sorted order within a folder).
    static std::optional<Report> newestReport(const QString &appName);

    // 1 January 2007, local midnight: nothing older is ever offered.
    static QDateTime searchStart();

    // The last crash of a report: after the last "**********", up to
    // "Binary Images:". Bytes that are not valid UTF-8 are read as U+FFFD,
    // so a report with a damaged line is still offered.
    static QString excerpt(const QByteArray &report);

    static bool matchesSignatures(const QString &excerpt, const std::optional<QStringList> &signatures);

    // " name " for every entry of the four library domains' "InputManagers"
    // folders (user, local, network, system; each sorted), ".DS_Store" left out.
    static QString inputManagers();

    // The crash mail's "mailto:" text before escaping.
    static QString crashMailText(const QString &crashAddress, const QString &excerpt);

    // Percent-escapes as the Mac's older URL escaping does: only characters
    // that may not appear in a URL at all (RFC 2396: everything outside
    // letters, digits, "-_.!~*'()" and the reserved ";/?:@&=+$,"), as UTF-8
    // bytes. "?", "&", "=" and "/" stay as they are.
    static QByteArray legacyEscaped(const QString &text);
};

} // namespace kestrum

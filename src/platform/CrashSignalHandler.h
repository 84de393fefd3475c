#pragma once

#include <QByteArray>
#include <QString>

namespace platform {

// The program's own crash reports. Nothing on Linux writes reports where the
// crash-report check looks for them, so a fatal signal (SIGSEGV, SIGABRT,
// SIGBUS, SIGFPE, SIGILL) writes one itself, into the user's
// "~/Library/Logs/DiagnosticReports/" on the volume, named as the Mac names
// its reports: "<appName>_<yyyy-MM-dd-HHmmss>_<host>.crash" (local time).
//
// The report starts with a "**********" line and ends with a
// "Binary Images:" section (the process's memory map), so the crash-report
// check's excerpt is the header, the signal, the exception that was being
// reported (if any) and the backtrace. The backtrace's frames name the
// functions the dynamic symbol table knows, mangled; functions of an
// executable linked without exported symbols show as offsets only.
//
// The handler uses only calls that are safe in a signal handler (open,
// write, read, close, mkdir, clock_gettime, sigaction, raise) plus glibc's
// backtrace and backtrace_symbols_fd, which allocate nothing once backtrace
// has been called before (done here when installing). Everything that needs
// Qt - the folder, the names, the header - is prepared when installing.
// After writing, the signal's default action is restored and the signal
// raised again, so the process still dies of it.
//
// Install after the volume is configured and the bundle is known; installing
// again prepares everything anew.
void installCrashSignalHandlers();

// Records the uncaught exception the program is about to report, so that a
// crash while reporting it (the report itself failing, or std::abort after
// a second exception) names it in the crash report's
// "Application Specific Information", worded as the Mac words it.
void noteUncaughtExceptionForCrashReport(const QByteArray &name, const QByteArray &reason);

// The report's file name for a moment: `seconds` since the epoch, shown in
// the zone that is `utcOffsetSeconds` east of UTC. The handler formats with
// the same integer code.
QString crashReportFileName(const QString &appName, qint64 seconds, int utcOffsetSeconds, const QString &host);

} // namespace platform

#pragma once

#include "platform/LogicalPath.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>

namespace dorvane {

// The record every uninstall leaves in the support folder: one line per
// package in the running log "Dorvane.log", and one file per uninstall in
// the folder "Logfiles"; the tidying done at each start, the size warning
// and what the log menu lists. Every path is logical and reaches the disk
// only through the volume door. Nothing here reports an error: a log that
// cannot be read, written, moved or removed is passed over.
//
// The support folder is the shared object's (kestrum::hx must exist).
// Housekeeping (migrate, prune) moves and removes only in a support folder
// and a log folder reached with no link on the way, the rule the removal
// door follows; otherwise it does nothing. Writes follow links, inside the
// volume.
class LogFiles
{
public:
    static platform::LogicalPath supportFolder();
    static platform::LogicalPath runningLog();    // support folder + "Dorvane.log"
    static platform::LogicalPath logFolder();     // support folder + "Logfiles"
    // support folder + "Quarantine": what undo puts back into the user's
    // session, per run (SessionRecord); never a stray.
    static platform::LogicalPath sessionRecords();

    // "dd.MM.yyyy HH:mm:ss" and "dd.MM.yyyy-HH:mm:ss", local time, en_US.
    static QString timestamp(const QDateTime &when);
    static QString fallbackTimestamp(const QDateTime &when);

    // Appends the text to the running log. A running log of up to 64 MiB
    // that cannot be read or is not UTF-8 is replaced by the text alone; a
    // larger one is appended to without being read.
    static void addToLogfile(const QString &text);

    // Writes the uninstall's log file, log folder + log name + ".log",
    // replacing one of that name, and returns its path. A "/" in the name
    // becomes ":" (the Finder shows a ":" of a file name as "/"), so the
    // file always lies in the log folder itself. Missing lists (the setting
    // was off) leave their section empty. Runs on the caller's thread and
    // returns when the file is written. A file that cannot be written (a
    // full disk) is not reported to the user here; *error says why, for
    // the uninstall's own account of what it did. `quarantine`, the run's
    // section, ends the file when the run kept what it removed.
    static platform::LogicalPath writeLogfile(const QString &logName, const QString &identifiers,
                                              const QString &filenames, const QStringList &files,
                                              const QStringList &folders,
                                              const std::optional<QStringList> &remaining,
                                              const std::optional<QStringList> &generated,
                                              const QDateTime &now = QDateTime::currentDateTime(),
                                              QString *error = nullptr, const QString &quarantine = QString());

    // Makes the log folder, moves stray "*.log" files of the support folder
    // into it and removes every other stray item; one running-log line each,
    // written even when the move or removal failed. A stray log never
    // replaces one of the same name: it is kept beside it as "name-N.log".
    static void migrateLogfiles(const QDateTime &now = QDateTime::currentDateTime());
    // Removes the log folder's entries created more than 28 days before now.
    static void pruneOldLogfiles(const QDateTime &now = QDateTime::currentDateTime());

    // The log folder's size in whole megabytes (1,048,576 bytes).
    static int logfileFolderMegabytes();
    // At 26 MB or more, asks whether to open the log folder; deletes nothing.
    static void checkLogfileFolderSize();

    // The log menu's titles in order; an empty title is the separator.
    static QStringList logfileMenuTitles();
    static platform::LogicalPath pathForMenuTitle(const QString &title);
    // Opens the log in the desktop's application for it.
    static bool openLogfile(const QString &title);
};

} // namespace dorvane

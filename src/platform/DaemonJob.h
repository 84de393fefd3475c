#pragma once

#include "platform/LogicalPath.h"

#include <QByteArray>
#include <QString>
#include <QVariantMap>

#include <optional>

namespace platform {

// Installing and removing a root daemon's job on the volume, as the Mac's
// launchd does for a blessed helper: the tool is copied into place, its job's
// property list written next to the system's others, and the daemon started
// as root. Every file goes through the volume door.
//
// The daemon is started detached (double fork, a session of its own, stdio
// on /dev/null) wherever the program runs. Where systemd is PID 1 a unit is
// written too (BootUnit), so the daemon starts again at the next boot.
namespace DaemonJob {

// Where one job lives on the volume.
struct Places
{
    QString label;
    LogicalPath tool;       // the installed executable
    LogicalPath jobList;    // the job's property list
    LogicalPath socket;     // where the running daemon listens
    LogicalPath pidFile;    // where it writes its process id
};

// Whom the job serves, and under which keys its list says so.
struct Served
{
    uint user = 0;
    LogicalPath home;     // the served user's home folder on the volume
    QString rootKey;      // the keys of the volume root, the user and the home
    QString userKey;
    QString homeKey;
};

// The job's property list: "Label", "ProgramArguments" (the installed tool,
// "--root", the volume root, "--serve-uid", the served user, "--home", the
// user's home folder), "MachServices", "RunAtLoad", "KeepAlive", and the
// volume root, served user and home under the given keys.
QVariantMap jobDictionary(const Places &places, const Served &served);

// Stops any daemon of this job on this volume, writes the tool (mode 0755)
// and the job, starts the tool as the job says and waits until its socket
// accepts a connection. False with the reason in *error. With "KeepAlive"
// the tool is started with "--keep-alive" and must then keep its service
// running itself, restarting it when it dies, as launchd does.
bool install(const Places &places, const QByteArray &tool, const QVariantMap &job, QString *error);

// Starts the installed job again as its list says, without writing the
// tool or the job: for a current installation whose daemon stopped (a
// reboot). False with the reason in *error.
bool launch(const Places &places, QString *error);

// Stops the daemon, then removes the job, the tool, and a socket or pid
// file it left. True when neither job nor tool is left.
bool remove(const Places &places, QString *error);

// Ends every process of this job running on this volume, a keeper and its
// service alike: SIGTERM, then SIGKILL for one still there after a while.
// False when one outlived both.
bool stop(const Places &places);

// Whether the daemon's socket accepts a connection.
bool answers(const Places &places);

// The process id in the pid file, when it names a running daemon of this
// job on this volume.
std::optional<qint64> runningPid(const Places &places);

} // namespace DaemonJob
} // namespace platform

#pragma once

#include "platform/Volume.h"

#include <QByteArray>
#include <QString>
#include <QVariantMap>

// Where systemd runs the machine, a unit that starts a job's daemon at boot,
// so that the first start after a restart asks nobody for a password.
//
// root runs what the unit names at every boot, before anybody looks, so it
// never names a path on the volume (a disk another machine wrote, whose
// links the kernel would follow): the tool is copied to a folder of the
// machine's own that only root may write, and started from there with the
// installed tool's path as its name, so that it is found and stopped like
// a daemon the job started.
namespace platform::BootUnit {

// Whether systemd is the machine's first process.
bool systemdRunsTheMachine();

// The unit's file name for the job: one per volume and label.
QString unitName(const QVariantMap &job);

// The unit's text, to run `tool` (the copy's path) as the job says.
QByteArray unitText(const QVariantMap &job, const QString &tool);

// Writes, on `host` (the machine's own "/"), the copy of the tool, the unit
// and the link that enables it for the next boot. False with *error.
bool install(const Volume &host, const QVariantMap &job, const QByteArray &tool, QString *error = nullptr);

// Removes what install() wrote for the job.
void remove(const Volume &host, const QVariantMap &job);

} // namespace platform::BootUnit

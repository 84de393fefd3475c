#pragma once

#include "VolumeBuilder.h"
#include "VolumeItems.h"

#include <QFile>

// Small packages and applications for fixture volumes, as the catalogue and
// planner tests describe them.
inline volumegen::Package package(const QString &identifier, const QList<volumegen::PathItem> &paths)
{
    volumegen::Package item;
    item.identifier = identifier;
    item.paths = paths;
    return item;
}

inline volumegen::AppBundle app(const QString &path, const QString &name, const QString &bundleIdentifier)
{
    volumegen::AppBundle item;
    item.path = path;
    item.name = name;
    item.bundleIdentifier = bundleIdentifier;
    item.executableSize = 1000;
    return item;
}

// A copy of a program of this machine, listed at `path` as an executable
// file of the package, so that the helper tool may end what runs it.
inline volumegen::PathItem programCopy(const QString &path, const QString &hostProgram = QStringLiteral("/bin/sleep"))
{
    QFile program(hostProgram);
    volumegen::PathItem item = volumegen::PathItem::file(path, 0);
    item.contents = program.open(QIODevice::ReadOnly) ? program.readAll() : QByteArray();
    item.executable = true;
    return item;
}

// Adds the receipts and writes the volume; a failure is only warned about,
// since the checks that follow fail on the volume it left.
inline void writeReceipts(volumegen::VolumeBuilder &builder, const QList<volumegen::Package> &packages)
{
    for (const volumegen::Package &item : packages)
        builder.addReceipt(item);
    QString error;
    if (!builder.write(&error))
        qWarning("volume not written: %s", qPrintable(error));
}

#pragma once

#include <QString>
#include <QtGlobal>

namespace platform {

// One path of a bill of materials, as the bill records it.
//
// `path` is relative to the install folder, without a leading "./" or "/"
// ("Applications/Foo.app/Contents"); the bill's root "." is never listed as
// an entry. Names are kept byte for byte (decoded as UTF-8), so "Icon\r" keeps
// its carriage return.
//
// Fields a record does not carry stay zero: a path-only record has no
// metadata at all, a folder has no checksum, only a link has a target and
// only a device has a device number.
struct BomEntry
{
    enum class Type { File, Directory, Link, Device, Unknown };

    QString path;
    Type type = Type::Unknown;
    quint16 mode = 0;        // st_mode with the type bits (0100644, 040755, 0120755, ...)
    quint32 uid = 0;
    quint32 gid = 0;
    quint32 mtime = 0;       // Unix seconds
    quint64 size = 0;        // bills store the low 32 bits; a link's size is its target's length
    quint32 checksum = 0;    // POSIX cksum CRC of the content (of the target, for a link)
    QString linkTarget;      // links only
    quint32 device = 0;      // rdev, devices only

    friend bool operator==(const BomEntry &, const BomEntry &) = default;
};

} // namespace platform

#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

// The two halves of PropertyList::fromData. Both read only what they can map
// to Qt types and stop with a message in *error at the first thing they
// cannot: any file on the volume may be hostile.
namespace platform::plist {

// Deeper nesting than any real property list; it keeps recursion (ours, and
// the destructors of nested QVariants) far from the end of the stack.
inline constexpr int kMaxDepth = 512;

// Values in one list, counting a shared binary object at every place that
// refers to it, so that a small file cannot expand into an enormous tree:
// whatever the reader accepts, the writer (libplist, which expands every
// shared object) must write back in a fraction of a second. Real lists here
// (receipts, Info.plist, preferences, the Dock's) hold a few thousand at most.
inline constexpr qint64 kMaxValues = qint64(1) << 16;
// Bytes of strings and data in one list, counted the same way.
inline constexpr qint64 kMaxBytes = qint64(1) << 24;

// Seconds between the Unix epoch and the property-list epoch (2001-01-01).
inline constexpr qint64 kMacEpochOffset = 978307200;

// "bplist00", big-endian objects indexed through an offset table.
QVariant readBinary(const QByteArray &data, QString *error);

// The XML form, <plist version="1.0"> around one value.
QVariant readXml(const QByteArray &data, QString *error);

} // namespace platform::plist

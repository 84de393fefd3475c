#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace platform {

// A Finder alias file (Mac OS X 10.6 and later) is a regular file whose
// content is bookmark data: "book", the data's length, a version, the
// header's length, then items found through a table of contents. On a Mac
// disk mounted on Linux the Finder's own alias flag (in an extended
// attribute that not every driver shows) may be missing, so an alias is
// known by this content alone.

// Whether the bytes are bookmark data: the magic, a length that is the
// data's own, and a header that fits in it.
bool isBookmarkData(const QByteArray &data);

// The path the bookmark names on the volume it was made on
// ("/Applications/Foo.app"), from its path components. Nothing when the data
// is no bookmark or is broken, when a component is empty, "." or "..", or
// when the bookmark names another volume than the Mac's own "/".
std::optional<QString> bookmarkPath(const QByteArray &data);

} // namespace platform

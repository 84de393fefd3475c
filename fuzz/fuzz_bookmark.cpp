// Fuzz target for the reader of Finder alias files (bookmark data), which a
// Mac disk brings with it: whatever the bytes, nothing crashes, a path comes
// only from bytes that are bookmark data, and every path is absolute with
// no empty, "." or ".." component, so it never climbs out of the volume.
#include "FuzzFail.h"
#include "platform/Bookmark.h"

#include <QStringList>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<QString> path = platform::bookmarkPath(bytes);
    if (path && !platform::isBookmarkData(bytes))
        fail("a path from bytes that are no bookmark data:", *path);
    if (!path)
        return 0;
    const QStringList components = path->split(QLatin1Char('/'));
    if (components.size() < 2 || !components.first().isEmpty())
        fail("a path that is not absolute:", *path);
    for (const QString &component : components.mid(1)) {
        if (component.isEmpty() || component == QLatin1String(".") || component == QLatin1String(".."))
            fail("a path with an empty, \".\" or \"..\" component:", *path);
    }
    return 0;
}

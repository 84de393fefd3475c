// Fuzz target for the bill-of-materials reader, which reads every bill a
// receipt names: any bytes give a listing or a reason, never a crash, and
// what is listed holds what the reader promises. Every path is relative and
// clean, its folder comes before it, each entry agrees with the path list,
// a record carries only the fields of its type, and the listing stays within
// its bound of 32 bytes of path per byte of file.
#include "FuzzFail.h"
#include "platform/bom/BomReader.h"

#include <QSet>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace platform;

namespace {

bool isCleanRelative(const QString &path)
{
    if (path.isEmpty() || path.size() > 1023)
        return false;
    for (QStringView part : QStringView(path).split(QLatin1Char('/'))) {
        if (part.isEmpty() || part == u"." || part == u"..")
            return false;
    }
    return true;
}

void checkEntry(const BomEntry &entry)
{
    using Type = BomEntry::Type;
    if (entry.type != Type::Link && !entry.linkTarget.isEmpty())
        fail("a link target on an entry that is no link:", entry.path);
    if (entry.type != Type::Device && entry.device != 0)
        fail("a device number on an entry that is no device:", entry.path);
    if (entry.type == Type::Directory && entry.checksum != 0)
        fail("a checksum on a folder:", entry.path);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const BomReader reader = BomReader::fromData(bytes);
    const QStringList paths = reader.paths();
    const QList<BomEntry> entries = reader.entries();
    const std::optional<BomEntry> root = reader.rootEntry();
    if (!reader.isValid()) {
        if (reader.errorString().isEmpty() || !paths.isEmpty() || !entries.isEmpty() || reader.count() != 0)
            fail("a refused bill lists something or gives no reason");
        return 0;
    }
    if (reader.failedToOpen())
        fail("a valid bill failed to open");
    if (paths.size() != reader.count() || entries.size() != reader.count())
        fail("the path list, the entries and the count disagree");
    if (root) {
        if (!root->path.isEmpty())
            fail("the root has a path:", root->path);
        checkEntry(*root);
    }
    QSet<QString> listed;
    qsizetype total = 0;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const BomEntry &entry = entries[i];
        if (entry.path != paths[i])
            fail("an entry is not the path listed at its place:", entry.path);
        if (!isCleanRelative(entry.path))
            fail("a listed path is not relative and clean:", entry.path);
        const qsizetype slash = entry.path.lastIndexOf(QLatin1Char('/'));
        if (slash >= 0 && !listed.contains(entry.path.first(slash)))
            fail("a path is listed before its folder:", entry.path);
        checkEntry(entry);
        listed.insert(entry.path);
        total += entry.path.size();
    }
    if (total > 32 * qsizetype(size))
        fail("the listing outgrows its bound of 32 bytes of path per byte of bill");
    return 0;
}

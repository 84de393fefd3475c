#include "dorvane/planning/StandardizedPath.h"

#include "platform/Volume.h"

namespace dorvane {

QString standardizedPath(const QString &path)
{
    if (path.isEmpty())
        return path;
    // The volume's cleaning anchors a relative path at "/", which would make
    // it name a folder nobody wrote; it is cleaned as if anchored, then the
    // anchor is taken off again.
    const bool anchored = path.startsWith(QLatin1Char('/')) || path == QLatin1String("~")
                          || path.startsWith(QLatin1String("~/"));
    QString clean = anchored ? platform::Volume::expandTilde(path)
                             : platform::Volume::expandTilde(QLatin1Char('/') + path).mid(1);
    if (clean.size() > 1 && clean.endsWith(QLatin1Char('/')))
        clean.chop(1);
    return clean;
}

} // namespace dorvane

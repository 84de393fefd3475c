#include "platform/PathMaker.h"

namespace platform {

std::optional<LogicalPath> PathMaker::path(QByteArrayView utf8)
{
    // Only an absolute text whose last name is a plain one takes the short
    // way: "~", a trailing slash, "." or ".." at the end are cleaned whole.
    const qsizetype slash = utf8.lastIndexOf('/');
    const auto whole = [&] { return m_volume->path(QString::fromUtf8(utf8)); };
    if (slash <= 0 || utf8.front() != '/')
        return whole();
    // The name is told plain, and free of NUL, on its bytes.
    const QByteArrayView bytes = utf8.sliced(slash + 1);
    if (!LogicalPath::isPlainName(bytes) || bytes.contains('\0'))
        return whole();
    const QString name = QString::fromUtf8(bytes);
    const QByteArrayView folder = utf8.first(slash);
    if (folder != m_folderUtf8) {
        m_folderUtf8 = folder.toByteArray();
        m_folder = m_volume->path(QString::fromUtf8(folder));
    }
    // A child keeps its folder's cleaning, and "/etc" its link into
    // "/private", by the rules of the volume that made the folder.
    return m_folder ? std::optional<LogicalPath>(m_folder->childNamed(name)) : std::nullopt;
}

} // namespace platform

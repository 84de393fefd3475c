#include "dorvane/catalogue/PackageSize.h"

#include "kestrum/FileSystem.h"
#include "kestrum/Format.h"

#include <QRegularExpression>

namespace dorvane::PackageSize {

quint64 bytes(const PackageRecord &record, const QStringList &files)
{
    quint64 total = record.isLegacy() ? kestrum::directorySize(record.pkgPath())
                                      : kestrum::fileSize(record.bomPath()) + kestrum::fileSize(record.plistPath());
    for (const QString &path : files) {
        const std::optional<kestrum::FileAttributes> attributes = kestrum::fileAttributes(path);
        if (attributes && !attributes->isDirectory())
            total += attributes->size;
    }
    return total;
}

QString text(quint64 bytes)
{
    return kestrum::makeString("%.1f MB", double(bytes) / 1048576.0);
}

double megabytes(const QString &text)
{
    static const QRegularExpression leadingNumber(QStringLiteral("^\\s*[-+]?(\\d+\\.?\\d*|\\.\\d+)"));
    const QRegularExpressionMatch match = leadingNumber.match(text);
    return match.hasMatch() ? match.captured(0).toDouble() : 0.0;
}

} // namespace dorvane::PackageSize

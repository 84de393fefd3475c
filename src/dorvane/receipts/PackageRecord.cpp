#include "dorvane/receipts/PackageRecord.h"

#include "kestrum/Format.h"

namespace dorvane {

QVariant PackageRecord::value(const QString &key) const
{
    if (m_installSize && key == PackageKey::InstallSize)
        return installSize();
    return m_values.value(key);
}

bool PackageRecord::contains(const QString &key) const
{
    return m_values.contains(key) || (m_installSize && key == PackageKey::InstallSize);
}

QVariantMap PackageRecord::values() const
{
    if (!m_installSize)
        return m_values;
    QVariantMap all = m_values;
    all.insert(PackageKey::InstallSize, installSize());
    return all;
}

QString PackageRecord::installSize() const
{
    const std::optional<quint64> bytes = installBytes();
    return bytes ? kestrum::makeString("%.1f MB", double(*bytes) / 1048576.0) : QString();
}

QString PackageRecord::description() const
{
    return kestrum::describe(values());
}

} // namespace dorvane

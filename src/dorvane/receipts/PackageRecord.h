#pragma once

#include <QStringList>
#include <QVariant>
#include <QVariantMap>

#include <memory>
#include <optional>

namespace dorvane {

// The keys of a package record that the program reads or writes by name.
namespace PackageKey {
inline const QString PackageIdentifier = QStringLiteral("PackageIdentifier");
inline const QString PackageVersion = QStringLiteral("PackageVersion");
inline const QString InstallProcessName = QStringLiteral("InstallProcessName");
inline const QString PackageFileName = QStringLiteral("PackageFileName");
inline const QString PlistPath = QStringLiteral("PlistPath");
inline const QString BOMPath = QStringLiteral("BOMPath");
inline const QString PKGPath = QStringLiteral("PKGPath");
inline const QString UserPrefix = QStringLiteral("UserPrefix");
inline const QString IsDamaged = QStringLiteral("IsDamaged");
inline const QString InstallSize = QStringLiteral("InstallSize");
inline const QString AppNames = QStringLiteral("AppNames");
inline const QString AppPaths = QStringLiteral("AppPaths");
inline const QString AppBuIDs = QStringLiteral("AppBuIDs");
inline const QString IconPath = QStringLiteral("IconPath");
} // namespace PackageKey

// One installed package: a dictionary of property-list values keyed by
// text. A modern record keeps every key of its receipt as the installer
// wrote it; the typed accessors below answer the keys the program reads,
// and an absent key reads as no value (an empty text, false, an empty list).
//
// Copies are independent except for the size: once a record has been given
// its size slot (startInstallSize), every copy shares it, so the size pass
// fills in what every list holding the record shows. The size is kept in
// bytes; the "InstallSize" text ("%.1f MB") is made where it is shown. It is
// written and read on the main thread only.
class PackageRecord
{
public:
    PackageRecord() = default;
    explicit PackageRecord(QVariantMap values) : m_values(std::move(values)) {}

    QVariant value(const QString &key) const;
    bool contains(const QString &key) const;
    void setValue(const QString &key, const QVariant &value) { m_values.insert(key, value); }
    void remove(const QString &key) { m_values.remove(key); }
    // Every key with its value, the size text included.
    QVariantMap values() const;

    // Gives the record a new, empty size slot that its copies will share.
    void startInstallSize() { m_installSize = std::make_shared<std::optional<quint64>>(); }
    // Changes the shared size in place; nothing when no slot was started.
    void setInstallBytes(quint64 bytes) const
    {
        if (m_installSize)
            *m_installSize = bytes;
    }
    std::optional<quint64> installBytes() const { return m_installSize ? *m_installSize : std::nullopt; }

    QString packageIdentifier() const { return text(PackageKey::PackageIdentifier); }
    QString packageVersion() const { return text(PackageKey::PackageVersion); }
    QString installProcessName() const { return text(PackageKey::InstallProcessName); }
    QString packageFileName() const { return text(PackageKey::PackageFileName); }
    QString plistPath() const { return text(PackageKey::PlistPath); }
    QString bomPath() const { return text(PackageKey::BOMPath); }
    QString pkgPath() const { return text(PackageKey::PKGPath); }
    // The size as the list shows it, "%.1f MB"; empty until it is known.
    QString installSize() const;
    QString iconPath() const { return text(PackageKey::IconPath); }
    QStringList appNames() const { return m_values.value(PackageKey::AppNames).toStringList(); }
    QStringList appPaths() const { return m_values.value(PackageKey::AppPaths).toStringList(); }
    QStringList appBuIDs() const { return m_values.value(PackageKey::AppBuIDs).toStringList(); }

    bool isLegacy() const { return m_values.contains(PackageKey::PKGPath); }
    bool hasUserPrefix() const { return m_values.value(PackageKey::UserPrefix).toBool(); }
    bool isDamaged() const { return m_values.value(PackageKey::IsDamaged).toBool(); }
    // The flags are stored only when true, never as false.
    void setUserPrefix() { m_values.insert(PackageKey::UserPrefix, true); }
    void setDamaged() { m_values.insert(PackageKey::IsDamaged, true); }

    // The printed form used in log messages.
    QString description() const;

    friend bool operator==(const PackageRecord &a, const PackageRecord &b)
    {
        return a.m_values == b.m_values && a.installBytes() == b.installBytes();
    }

private:
    QString text(const QString &key) const
    {
        const QVariant v = m_values.value(key);
        return v.typeId() == QMetaType::QString ? v.toString() : QString();
    }

    QVariantMap m_values;
    std::shared_ptr<std::optional<quint64>> m_installSize;
};

} // namespace dorvane

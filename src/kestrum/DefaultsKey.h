#pragma once

#include <QString>
#include <QUrl>
#include <QVariant>

#include <optional>

namespace kestrum {

// A settings key that reads and writes its own value in the standard user
// defaults, at the moment of the call:
//     "Launches"_key.setDefaultInt("Launches"_key.defaultInt() + 1);
// The object setters remove the key when given an invalid value.
class DefaultsKey
{
public:
    explicit DefaultsKey(const char *name) : m_name(QString::fromLatin1(name)) {}
    explicit DefaultsKey(const QString &name) : m_name(name) {}

    const QString &name() const { return m_name; }

    QVariant defaultObject() const;
    void setDefaultObject(const QVariant &value) const;

    QString defaultString() const;          // null when absent or not a text
    void setDefaultString(const QString &value) const;

    std::optional<QVariantList> defaultArray() const; // nothing when absent or not an array
    QStringList defaultStringArray() const; // the array's texts; empty when there is no array
    void setDefaultArray(const QVariantList &value) const;
    void setDefaultArray(const QStringList &value) const;

    QVariantMap defaultDict() const;        // empty when absent or not a dictionary
    void setDefaultDict(const QVariantMap &value) const;

    // A file URL is stored as its path, "~" standing for the home folder;
    // any other URL as its encoded bytes, so that it never reads as a path.
    QUrl defaultURL() const;                // invalid when absent or neither
    void setDefaultURL(const QUrl &value) const;

    qint64 defaultInt() const;              // 0 when absent
    void setDefaultInt(qint64 value) const;

    float defaultFloat() const;             // 0 when absent
    void setDefaultFloat(float value) const;

private:
    QString m_name;
};

inline DefaultsKey operator""_key(const char *name, std::size_t)
{
    return DefaultsKey(name);
}

} // namespace kestrum

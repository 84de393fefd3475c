#include "platform/UserDefaults.h"

#include "platform/Bundle.h"
#include "platform/PropertyList.h"
#include "platform/ReadLimits.h"
#include "platform/SystemLog.h"
#include "platform/Volume.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <memory>

namespace platform {

namespace {

constexpr int kLogWarning = 4;

void logWarning(const QString &message)
{
    SystemLog::write(kLogWarning, Bundle::main().infoValue(QStringLiteral("CFBundleName")).toString(), message);
}

} // namespace

UserDefaults::UserDefaults(const QString &domain)
    : m_domain(domain)
{
}

UserDefaults &UserDefaults::standard()
{
    static UserDefaults defaults(Bundle::main().identifier());
    return defaults;
}

UserDefaults &UserDefaults::domain(const QString &name)
{
    if (name == standard().domainName())
        return standard();
    static QMutex mutex;
    static QHash<QString, std::shared_ptr<UserDefaults>> domains;
    QMutexLocker lock(&mutex);
    auto &entry = domains[name];
    if (!entry)
        entry = std::make_shared<UserDefaults>(name);
    return *entry;
}

QString UserDefaults::logicalFilePath() const
{
    return file().toString();
}

LogicalPath UserDefaults::file() const
{
    return Volume::current()->home().child(QStringLiteral("Library/Preferences/%1.plist").arg(m_domain));
}

void UserDefaults::loadLocked() const
{
    if (m_loaded)
        return;
    m_loaded = true;
    m_unreadable = false;
    m_stored.clear();
    const LogicalPath file = this->file();
    if (!Volume::current()->status(file, Follow::NotFinal))
        return;
    QString error;
    const std::optional<QByteArray> bytes = Volume::current()->readFile(file, ReadLimit::kPreferences, &error);
    const QVariant value = bytes ? PropertyList::fromData(*bytes, &error) : QVariant();
    if (value.typeId() == QMetaType::QVariantMap) {
        m_stored = value.toMap();
        return;
    }
    m_unreadable = true;
    logWarning(QStringLiteral("Preferences file %1 cannot be read (%2); using the registered defaults, and keeping "
                              "the file until a setting changes")
                   .arg(logicalFilePath(), value.isValid() ? QStringLiteral("not a dictionary") : error));
}

void UserDefaults::saveLocked()
{
    m_unsaved = false;
    m_saveFailed = true;   // until the file is written
    m_sinceSave.start();
    const LogicalPath file = this->file();
    if (m_unreadable) {
        // Keep what could not be read beside the new file; when even that
        // fails, the change stays in memory and the file stays as it is.
        const LogicalPath kept = file.parent().child(file.name().toString() + QLatin1String(".unreadable"));
        if (Volume::current()->status(file, Follow::NotFinal) && !Volume::current()->renameItem(file, kept)) {
            logWarning(QStringLiteral("Preferences file %1 cannot be read nor moved aside; the change is not saved")
                           .arg(logicalFilePath()));
            return;
        }
        m_unreadable = false;
        logWarning(QStringLiteral("Preferences file %1 could not be read; it is kept as %2.unreadable")
                       .arg(logicalFilePath(), logicalFilePath()));
    }
    // A failed write leaves the old file in place; the value stays in memory.
    const QByteArray bytes = PropertyList::toData(m_stored, PropertyList::Format::Binary);
    // The folder is made only when the write finds it missing: every log
    // line of the library lands here, and a write is most of its cost.
    if (bytes.isEmpty())
        return;
    m_saveFailed = !Volume::current()->writeFile(file, bytes)
                   && !(Volume::current()->makeFolders(file.parent()) && Volume::current()->writeFile(file, bytes));
}

QVariant UserDefaults::object(const QString &key) const
{
    QMutexLocker lock(&m_mutex);
    loadLocked();
    auto it = m_stored.constFind(key);
    if (it != m_stored.cend())
        return *it;
    return m_registered.value(key);
}

QVariant UserDefaults::storedObject(const QString &key) const
{
    QMutexLocker lock(&m_mutex);
    loadLocked();
    return m_stored.value(key);
}

void UserDefaults::setObject(const QString &key, const QVariant &value)
{
    QMutexLocker lock(&m_mutex);
    loadLocked();
    if (!value.isValid()) {
        if (m_stored.remove(key) == 0)
            return;
    } else {
        m_stored.insert(key, value);
    }
    saveLocked();
}

void UserDefaults::setObjectSoon(const QString &key, const QVariant &value)
{
    constexpr qint64 kSaveInterval = 250;
    QMutexLocker lock(&m_mutex);
    loadLocked();
    m_stored.insert(key, value);
    if (m_sinceSave.isValid() && !m_sinceSave.hasExpired(kSaveInterval))
        m_unsaved = true;
    else
        saveLocked();
}

bool UserDefaults::synchronize()
{
    QMutexLocker lock(&m_mutex);
    if (m_unsaved || m_saveFailed)
        saveLocked();
    return !m_saveFailed;
}

void UserDefaults::removeObject(const QString &key)
{
    setObject(key, QVariant());
}

void UserDefaults::registerDefaults(const QVariantMap &defaults)
{
    QMutexLocker lock(&m_mutex);
    for (auto it = defaults.cbegin(); it != defaults.cend(); ++it)
        m_registered.insert(it.key(), it.value());
}

QVariantMap UserDefaults::registeredDefaults() const
{
    QMutexLocker lock(&m_mutex);
    return m_registered;
}

QVariantMap UserDefaults::persistentDomain() const
{
    QMutexLocker lock(&m_mutex);
    loadLocked();
    return m_stored;
}

void UserDefaults::setPersistentDomain(const QVariantMap &domain)
{
    QMutexLocker lock(&m_mutex);
    loadLocked(); // learns whether an unreadable file must be kept aside
    m_stored = domain;
    saveLocked();
}

void UserDefaults::reload()
{
    QMutexLocker lock(&m_mutex);
    m_loaded = false;
    m_unreadable = false;
    m_unsaved = false;
    m_stored.clear();
}

} // namespace platform

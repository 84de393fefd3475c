#pragma once

#include "platform/LogicalPath.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QString>
#include <QVariant>
#include <QVariantMap>

namespace platform {

// User defaults: one property-list file per domain at
// "~/Library/Preferences/<domain>.plist" on the volume. Registered defaults
// live in memory only and are never written. Safe to use from any thread.
//
// The file is read on first use and written atomically on every change, so
// that another process (the command line, a second start) sees it at once.
// A file that cannot be read (damaged, hostile, not a dictionary) counts as
// empty, so the registered defaults apply; it is logged, left in place, and
// moved aside to "<domain>.plist.unreadable" only when a value is first
// stored, so that nothing in it is lost.
class UserDefaults
{
public:
    explicit UserDefaults(const QString &domain);

    // The application's own domain, named by the bundle identifier.
    static UserDefaults &standard();
    // Another domain of the same user, such as "com.apple.dock".
    static UserDefaults &domain(const QString &name);

    QString domainName() const { return m_domain; }
    QString logicalFilePath() const;
    LogicalPath file() const;

    // The stored value, else the registered default, else an invalid QVariant.
    QVariant object(const QString &key) const;
    // The stored value only.
    QVariant storedObject(const QString &key) const;
    // An invalid value removes the key.
    void setObject(const QString &key, const QVariant &value);
    // For values written in bursts, such as the library's log lines: stored
    // at once, written to the file when the last write is a quarter of a
    // second old, or else by the next write or synchronize().
    void setObjectSoon(const QString &key, const QVariant &value);
    // Writes what setObjectSoon() or a failed write left unwritten; false
    // when the file still does not hold every stored value.
    bool synchronize();
    void removeObject(const QString &key);

    void registerDefaults(const QVariantMap &defaults);
    QVariantMap registeredDefaults() const;

    // Everything stored in the file, as read from it now.
    QVariantMap persistentDomain() const;
    // Replaces everything stored with the dictionary and writes it at once.
    void setPersistentDomain(const QVariantMap &domain);

    // Forget what was read, so that the next access reads the file again;
    // what setObjectSoon() left unwritten is dropped with it.
    void reload();

private:
    void loadLocked() const;
    void saveLocked();

    const QString m_domain;
    mutable QMutex m_mutex;
    mutable bool m_loaded = false;
    mutable bool m_unreadable = false; // the file is there but could not be read
    bool m_unsaved = false;            // setObjectSoon() changed more than the file holds
    bool m_saveFailed = false;         // the last write did not reach the file
    QElapsedTimer m_sinceSave;
    mutable QVariantMap m_stored;
    QVariantMap m_registered;
};

} // namespace platform

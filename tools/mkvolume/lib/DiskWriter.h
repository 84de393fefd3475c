#pragma once

#include <QByteArray>
#include <QSet>
#include <QString>

namespace volumegen {

// Creates files, folders and links below a physical root with plain POSIX
// calls, remembering the folders it has made so that half a million files
// cost one system call each rather than a walk up their path.
//
// It never writes outside the root: a symbolic link met on the way down is
// only followed when its target is relative and does not climb with "..",
// which is how the volume's own links (/etc to private/etc) are made.
class DiskWriter
{
public:
    explicit DiskWriter(const QString &physicalRoot);

    // Logical paths; each call makes the missing folders above the item.
    // An existing file is replaced, an existing link made anew.
    bool makeFolder(const QString &logical);
    bool makeFile(const QString &logical, quint64 size, const QByteArray *contents, bool executable);
    bool makeLink(const QString &logical, const QString &target);

    QString physicalPath(const QString &logical) const { return physicalPath(m_root, logical); }
    static QString physicalPath(const QString &root, const QString &logical);
    QString errorString() const { return m_error; }

private:
    bool ensureFolder(const QByteArray &physical);
    bool fail(const QString &what, const QByteArray &physical, int error);

    QString m_root;
    QSet<QByteArray> m_folders;
    QString m_error;
};

} // namespace volumegen

#pragma once

#include <QProcess>
#include <QString>

// A folder shown through tools/macfs, where names are looked up as a Mac
// volume does ("Foo" is "FOO", "Café" composed is "Café" decomposed), for as
// long as the fixture lives. Mounting needs root and /dev/fuse; where it
// cannot happen, skipReason() says why and the test skips with it.
class MacFsMount
{
public:
    // Without a mount point, an empty folder is made beside the backing one
    // and removed again.
    explicit MacFsMount(const QString &backing, const QString &mountPoint = QString());
    ~MacFsMount();

    MacFsMount(const MacFsMount &) = delete;
    MacFsMount &operator=(const MacFsMount &) = delete;

    QString mountPoint() const { return m_mountPoint; }
    bool isMounted() const;
    QString skipReason() const { return m_skipReason; }

    // Unmounts, waits for the file system to end and removes a mount point
    // the fixture made. The destructor does it too.
    void unmount();

private:
    static void unmountAllAtExit();

    QString m_mountPoint;
    bool m_madeMountPoint = false;
    QProcess m_process;
    QString m_skipReason;
};

#include "support/MacFsMount.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QTemporaryDir>
#include <QTest>

#include <sys/mount.h>
#include <sys/prctl.h>
#include <csignal>
#include <cstdlib>
#include <unistd.h>
#include <utility>

namespace {

// Mounts still up, so that a test ending through exit() leaves none behind.
// A test that crashes takes its file system down through the death signal.
QList<MacFsMount *> &liveMounts()
{
    static QList<MacFsMount *> mounts;
    return mounts;
}

// /proc/self/mountinfo writes space, tab, newline and backslash as octal.
QString unescapedField(const QByteArray &field)
{
    QByteArray text;
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            bool ok = false;
            const int code = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok) {
                text += char(code);
                i += 3;
                continue;
            }
        }
        text += field[i];
    }
    return QString::fromUtf8(text);
}

bool isMacFsMountedAt(const QString &mountPoint)
{
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    if (mountPoint.isEmpty() || !table.open(QIODevice::ReadOnly))
        return false;
    const QList<QByteArray> lines = table.readAll().split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype separator = fields.indexOf("-");
        if (separator > 4 && separator + 1 < fields.size()
            && fields[separator + 1] == "fuse.macfs" && unescapedField(fields[4]) == mountPoint)
            return true;
    }
    return false;
}

} // namespace

MacFsMount::MacFsMount(const QString &backing, const QString &mountPoint)
{
    if (::geteuid() != 0) {
        m_skipReason = QStringLiteral("mounting macfs needs root");
        return;
    }
    if (::access("/dev/fuse", R_OK | W_OK) != 0) {
        m_skipReason = QStringLiteral("/dev/fuse is missing: no FUSE here");
        return;
    }
    const QString tool = QStringLiteral(DORVANE_MACFS);
    if (!QFileInfo(tool).isExecutable()) {
        m_skipReason = QStringLiteral("macfs is not built: ") + tool;
        return;
    }
    const QFileInfo backingInfo(backing);
    if (mountPoint.isEmpty()) {
        QTemporaryDir made(backingInfo.absolutePath() + QLatin1Char('/') + backingInfo.fileName()
                           + QStringLiteral(".mount-XXXXXX"));
        if (!made.isValid()) {
            m_skipReason = QStringLiteral("cannot make a mount point beside ") + backing;
            return;
        }
        made.setAutoRemove(false);
        m_madeMountPoint = true;
        m_mountPoint = QFileInfo(made.path()).canonicalFilePath();
    } else {
        m_mountPoint = QFileInfo(mountPoint).canonicalFilePath();
        if (m_mountPoint.isEmpty()) {
            m_skipReason = QStringLiteral("no mount point at ") + mountPoint;
            return;
        }
    }

    liveMounts().append(this);
    if (static bool registered = false; !std::exchange(registered, true))
        std::atexit(unmountAllAtExit);

    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_process.start(tool, {backingInfo.absoluteFilePath(), m_mountPoint, QStringLiteral("-f")});
    const bool up = QTest::qWaitFor([this] {
        return isMacFsMountedAt(m_mountPoint) || m_process.state() == QProcess::NotRunning;
    }, 10000);
    if (!up || !isMounted()) {
        const QString output = QString::fromLocal8Bit(m_process.readAllStandardError()).trimmed();
        m_skipReason = QStringLiteral("macfs did not mount %1 (%2)").arg(m_mountPoint, output.isEmpty() ? m_process.errorString() : output);
        unmount();
    }
}

MacFsMount::~MacFsMount()
{
    unmount();
}

bool MacFsMount::isMounted() const
{
    return isMacFsMountedAt(m_mountPoint);
}

void MacFsMount::unmount()
{
    liveMounts().removeOne(this);
    if (m_mountPoint.isEmpty())
        return;
    const QByteArray path = QFile::encodeName(m_mountPoint);
    // A file still open under it keeps a plain unmount from happening.
    if (isMounted() && ::umount2(path.constData(), 0) != 0)
        ::umount2(path.constData(), MNT_DETACH);
    if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(10000)) {
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }
    if (isMounted())
        ::umount2(path.constData(), MNT_DETACH);
    // rmdir, not a recursive removal: should anything still be mounted
    // there, what lies beneath stays untouched.
    if (m_madeMountPoint)
        ::rmdir(path.constData());
    m_madeMountPoint = false;
}

void MacFsMount::unmountAllAtExit()
{
    while (!liveMounts().isEmpty())
        liveMounts().first()->unmount();
}

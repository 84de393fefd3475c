#include "support/VolumeFixture.h"

#include "dorvane/toolclient/HelperInstaller.h"
#include "platform/DaemonJob.h"
#include "platform/UserDefaults.h"
#include "platform/Volume.h"

#include "VolumeRemoval.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>
#include <cstdlib>
#include <sys/stat.h>

namespace {

// The fixtures alive now, so that a test process ending through exit()
// (an alert that quits) still stops the helpers it started on them and
// removes their folders.
QList<VolumeFixture *> &liveFixtures()
{
    static QList<VolumeFixture *> fixtures;
    return fixtures;
}

} // namespace

void VolumeFixture::endAllAtExit()
{
    for (VolumeFixture *fixture : liveFixtures()) {
        fixture->stopHelper();
        fixture->m_dir.remove();
    }
}

VolumeFixture::VolumeFixture(const QString &home)
    : m_home(home)
{
    // Test programs lie outside the bundle; the helper tool is the built one.
    if (!qEnvironmentVariableIsSet("DORVANE_BUNDLE_DIR"))
        qputenv("DORVANE_BUNDLE_DIR", DORVANE_BUNDLE_DIR);
    platform::Volume::configure(m_dir.path(), m_home);
    QDir().mkpath(physical(m_home));
    platform::UserDefaults::standard().reload();
    // A test process that has run the start-up runs the helper daemon too.
    // The list exists before the handler is registered, so it outlives it.
    liveFixtures().append(this);
    if (static bool registered = false; !std::exchange(registered, true))
        std::atexit(endAllAtExit);
}

VolumeFixture::~VolumeFixture()
{
    liveFixtures().removeOne(this);
    stopHelper();
    // Clears the immutable flags a test set, which would keep the folder.
    volumegen::removeVolume(m_dir.path());
    platform::Volume::configure(QString(), QString());
    platform::UserDefaults::standard().reload();
}

void VolumeFixture::stopHelper()
{
    if (!m_dir.isValid())
        return;
    platform::Volume::configure(m_dir.path(), m_home);
    platform::DaemonJob::stop(dorvane::HelperInstaller::places());
}

// Joined as text on purpose: the fixture builds the volume, traps included.
QString VolumeFixture::physical(const QString &logical) const
{
    QString path = logical;
    if (path == QLatin1String("~") || path.startsWith(QLatin1String("~/")))
        path = m_home + path.mid(1);
    return QDir::cleanPath(m_dir.path() + QLatin1Char('/') + path);
}

bool VolumeFixture::makeFolder(const QString &logical) const
{
    return QDir().mkpath(physical(logical));
}

bool VolumeFixture::writeFile(const QString &logical, const QByteArray &contents) const
{
    const QString path = physical(logical);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(contents) == contents.size();
}

bool VolumeFixture::makeLink(const QString &logical, const QString &target) const
{
    const QString path = physical(logical);
    QDir().mkpath(QFileInfo(path).absolutePath());
    return QFile::link(target, path);
}

QByteArray readPlistIndependently(const QString &physicalPath, QString *error)
{
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (python.isEmpty()) {
        *error = QStringLiteral("python3 is not installed");
        return {};
    }
    static const char script[] =
        "import json, plistlib, sys, datetime\n"
        "def conv(v):\n"
        "    if isinstance(v, dict): return {k: conv(x) for k, x in v.items()}\n"
        "    if isinstance(v, list): return [conv(x) for x in v]\n"
        "    if isinstance(v, bytes): return v.hex()\n"
        "    if isinstance(v, datetime.datetime): return v.isoformat()\n"
        "    return v\n"
        "with open(sys.argv[1], 'rb') as f: data = plistlib.load(f)\n"
        "print(json.dumps(conv(data), sort_keys=True))\n";
    QProcess process;
    process.start(python, {QStringLiteral("-c"), QString::fromLatin1(script), physicalPath});
    if (!process.waitForFinished(30000) || process.exitCode() != 0) {
        *error = QString::fromLocal8Bit(process.readAllStandardError());
        return {};
    }
    return process.readAllStandardOutput().trimmed();
}

QByteArray fileContents(const QString &physicalPath)
{
    QFile file(physicalPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool isWithinAny(const QString &path, const QStringList &folders)
{
    return std::any_of(folders.cbegin(), folders.cend(),
                       [&](const QString &f) { return path == f || path.startsWith(f + '/'); });
}

QMap<QString, QString> treeSnapshot(const QString &root, const QString &except, bool whole)
{
    QMap<QString, QString> items;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path == except)
            continue;
        const QFileInfo info = it.fileInfo();
        QString item = info.isSymLink() ? "link " + info.symLinkTarget()
                       : info.isDir()   ? QStringLiteral("folder")
                                        : "file " + QString::number(info.size());
        struct stat st;
        if (whole && ::lstat(QFile::encodeName(path).constData(), &st) == 0) {
            item += QStringLiteral(" %1 %2:%3").arg(st.st_mode & 07777, 0, 8).arg(st.st_uid).arg(st.st_gid);
            if (info.isFile() && !info.isSymLink())
                item += ' ' + QString::fromLatin1(
                           QCryptographicHash::hash(fileContents(path), QCryptographicHash::Sha1).toHex());
        }
        items.insert(path, item);
    }
    return items;
}

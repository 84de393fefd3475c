// tools/macfs: a folder shown with the Mac's name lookup, checked through
// the mount against what the backing folder holds.

#include "support/MacFsMount.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString twistKit = QStringLiteral("Library/Frameworks/TwistKit.framework/Versions/A/TwistKit");
const QString cafeComposed = QStringLiteral("Caf\u00e9");
const QString cafeDecomposed = QStringLiteral("Cafe\u0301");

// A name as the system calls take it, alive for the full expression.
struct Path
{
    QByteArray bytes;
    operator const char *() const { return bytes.constData(); }
};

bool writeFile(const QString &file, const QByteArray &contents)
{
    QDir().mkpath(QFileInfo(file).absolutePath());
    QFile out(file);
    return out.open(QIODevice::WriteOnly) && out.write(contents) == contents.size();
}

QByteArray contents(const QString &file)
{
    QFile in(file);
    return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray("<unreadable>");
}

QStringList names(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
}

} // namespace

class TestMacFs : public QObject
{
    Q_OBJECT

    QString backing(const QString &name) const { return m_backing.filePath(name); }
    QString mounted(const QString &name) const { return m_mount->mountPoint() + QLatin1Char('/') + name; }
    Path at(const QString &name) const { return {QFile::encodeName(mounted(name))}; }

private slots:
    void initTestCase()
    {
        QVERIFY(m_backing.isValid());
        QVERIFY(writeFile(backing(twistKit), "twist"));
        QVERIFY(writeFile(backing(cafeComposed), "cafe"));
        m_mount = std::make_unique<MacFsMount>(m_backing.path());
        if (!m_mount->skipReason().isEmpty())
            QSKIP(qPrintable(m_mount->skipReason()));
        QVERIFY(m_mount->isMounted());
    }

    void cleanupTestCase()
    {
        const QString mountPoint = m_mount ? m_mount->mountPoint() : QString();
        m_mount.reset();
        QVERIFY(mountPoint.isEmpty() || !QFileInfo::exists(mountPoint));
    }

    void lookup_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("asked");
        QTest::addColumn<bool>("found");
        QTest::newRow("as spelled") << twistKit << twistKit << true;
        QTest::newRow("case") << twistKit << twistKit.toLower() << true;
        QTest::newRow("NFD of NFC") << cafeComposed << cafeDecomposed << true;
        QTest::newRow("NFD upper") << cafeComposed << cafeDecomposed.toUpper() << true;
        QTest::newRow("another name") << twistKit << QStringLiteral("library/frameworks/TwistKits.framework") << false;
    }

    void lookup()
    {
        QFETCH(QString, stored);
        QFETCH(QString, asked);
        QFETCH(bool, found);
        struct stat original {}, seen {};
        QCOMPARE(::lstat(QFile::encodeName(backing(stored)).constData(), &original), 0);
        QCOMPARE(::lstat(at(asked), &seen) == 0, found);
        if (!found) {
            QCOMPARE(errno, ENOENT);
            return;
        }
        QCOMPARE(seen.st_ino, original.st_ino);
        QCOMPARE(contents(mounted(asked)), contents(backing(stored)));
    }

    void createOpensTheExistingFile()
    {
        QVERIFY(writeFile(backing(QStringLiteral("Notes.txt")), "kept"));
        const int fd = ::open(at(QStringLiteral("NOTES.TXT")), O_RDWR | O_CREAT, 0644);
        QVERIFY2(fd >= 0, strerror(errno));
        ::close(fd);
        QCOMPARE(contents(mounted(QStringLiteral("NOTES.TXT"))), QByteArray("kept"));
        QCOMPARE(::open(at(QStringLiteral("notes.txt")), O_RDWR | O_CREAT | O_EXCL, 0644), -1);
        QCOMPARE(errno, EEXIST);
        const QStringList listed = names(m_mount->mountPoint());
        QVERIFY(listed.contains(QStringLiteral("Notes.txt")));
        QVERIFY(!listed.contains(QStringLiteral("NOTES.TXT")) && !listed.contains(QStringLiteral("notes.txt")));
    }

    void makingAnotherSpellingFails()
    {
        QCOMPARE(::mkdir(at(QStringLiteral("LIBRARY")), 0755), -1);
        QCOMPARE(errno, EEXIST);
        QCOMPARE(::symlink("x", at(QStringLiteral("library"))), -1);
        QCOMPARE(errno, EEXIST);
    }

    void renameToAnotherSpellingRespells()
    {
        QVERIFY(writeFile(backing(QStringLiteral("foo")), "foo"));
        QCOMPARE(::rename(at(QStringLiteral("foo")), at(QStringLiteral("FOO"))), 0);
        QVERIFY(names(m_mount->mountPoint()).contains(QStringLiteral("FOO")));
        QVERIFY(!names(m_backing.path()).contains(QStringLiteral("foo")));
        QCOMPARE(contents(backing(QStringLiteral("FOO"))), QByteArray("foo"));
    }

    void renameOntoAnotherSpellingReplaces()
    {
        QVERIFY(writeFile(backing(QStringLiteral("a.txt")), "old"));
        QVERIFY(writeFile(backing(QStringLiteral("b.txt")), "new"));
        QCOMPARE(::rename(at(QStringLiteral("b.txt")), at(QStringLiteral("A.TXT"))), 0);
        const QStringList stored = names(m_backing.path());
        QVERIFY(stored.contains(QStringLiteral("A.TXT")));
        QVERIFY(!stored.contains(QStringLiteral("a.txt")) && !stored.contains(QStringLiteral("b.txt")));
        QCOMPARE(contents(backing(QStringLiteral("A.TXT"))), QByteArray("new"));
    }

    void unlinkByAnotherSpelling()
    {
        QVERIFY(writeFile(backing(QStringLiteral("Gone.plist")), "x"));
        QCOMPARE(::unlink(at(QStringLiteral("gone.PLIST"))), 0);
        QVERIFY(!QFileInfo::exists(backing(QStringLiteral("Gone.plist"))));
    }

    void linksAreShownNotFollowed()
    {
        QVERIFY(QFile::link(QStringLiteral("/etc/passwd"), backing(QStringLiteral("outside"))));
        QVERIFY(QFile::link(QStringLiteral("/"), backing(QStringLiteral("lnk"))));
        for (const QString name : {"outside", "OUTSIDE", "lnk", "LNK"}) {
            struct stat st {};
            QCOMPARE(::lstat(at(name), &st), 0);
            QVERIFY2(S_ISLNK(st.st_mode), qPrintable(name));
            char text[64] = {};
            const ssize_t length = ::readlink(at(name), text, sizeof text - 1);
            QCOMPARE(QByteArray(text, int(length)), name.toLower() == "lnk" ? "/" : "/etc/passwd");
        }
    }

private:
    QTemporaryDir m_backing;
    std::unique_ptr<MacFsMount> m_mount;
};

QTEST_GUILESS_MAIN(TestMacFs)
#include "tst_macfs.moc"

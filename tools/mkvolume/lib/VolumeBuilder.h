#pragma once

#include "VolumeItems.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace volumegen {

class DiskWriter;

// What a build produced, for the tool's summary and for benchmarks.
struct VolumeStats
{
    int receipts = 0;            // receipts written (legacy bundles included)
    qint64 listedPaths = 0;      // entries of all bills together
    quint64 listedBytes = 0;     // sizes of the listed files together
    qint64 filesCreated = 0;     // files and links made on disk
    qint64 foldersCreated = 0;   // folders made on disk (counted once per path asked for)
    QStringList protectedPaths;  // logical paths whose immutable flag took
};

// Builds a Mac-like volume in a physical folder: receipts with their bills,
// the paths the bills list, applications, and what applications leave in the
// Library folders. Everything is described first (the add calls) and made by
// write(); the same description always gives the same files, byte for byte,
// apart from the file system's own time stamps.
//
// Logical paths are paths on the Mac volume ("/Applications/Foo.app"); the
// builder puts the physical root in front of them and never writes outside it.
class VolumeBuilder
{
public:
    explicit VolumeBuilder(const QString &physicalRoot, const QString &logicalHome = QStringLiteral("/Users/demo"));

    QString root() const { return m_root; }
    QString home() const { return m_home; }
    QString physicalPath(const QString &logical) const;

    // The top-level folders every Mac has, the receipt folders, the user's
    // Library folders, the links /etc, /tmp and /var into /private, and the
    // generic icons the package list shows.
    void addStandardFolders();

    // A package. Its applications are added to its paths below the install
    // folder, parent folders that the paths leave out are added before
    // their first child (as real bills list every folder, but without
    // creating them: they exist exactly when something inside them does),
    // a leading "/" is dropped and a path given twice is kept once.
    void addReceipt(Package package);

    // An application that no package lists (one copied by hand).
    void addApplication(const AppBundle &app);

    // What an application leaves behind in the user's and the system's
    // Library folders, where the uninstall planner looks for it.
    void addGeneratedFiles(const QString &bundleIdentifier, const QString &appName,
                           GeneratedItems items = kTypicalGeneratedItems);

    // Loose items at logical paths.
    void addFile(const QString &logical, const QByteArray &contents);
    void addSparseFile(const QString &logical, quint64 size);
    void addFolder(const QString &logical);
    void addLink(const QString &logical, const QString &target);

    // Makes everything added since the last write. False with *error at the
    // first failure (a path that cannot be made, a bill that cannot be
    // written, an application outside its package's install folder).
    bool write(QString *error = nullptr);

    // Sets the immutable flag on an item that write() has made, so that it
    // counts as protected; call it after the last write into that folder.
    // False when the file system or the user's rights do not allow it
    // (setting the flag needs root on Linux).
    bool protect(const QString &logical);

    // The packages as written: applications expanded, parent folders added.
    const QList<Package> &receipts() const { return m_receipts; }
    const VolumeStats &stats() const { return m_stats; }

    // Where the store finds a receipt (logical paths): the install folder,
    // ending in "/"; the receipt list (a legacy bundle's Contents/Info.plist);
    // the bill; and, for legacy receipts, the bundle.
    QString installFolder(const Package &package) const;
    QString receiptPath(const Package &package) const;
    QString billPath(const Package &package) const;
    QString bundlePath(const Package &package) const;

    // The name of the marker file that write() leaves at the volume's root;
    // removeVolume() only deletes folders that carry it.
    static QString markerName();

private:
    bool writeReceipt(const Package &package, DiskWriter &disk, QString *error);
    bool makeItem(const PathItem &item, const QString &logical, DiskWriter &disk, QString *error);

    QString m_root;
    QString m_home;
    QList<Package> m_receipts;
    qsizetype m_written = 0;          // packages already made by an earlier write()
    QList<PathItem> m_loose;          // logical paths
    QStringList m_problems;
    VolumeStats m_stats;
};

} // namespace volumegen

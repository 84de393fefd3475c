#pragma once

#include <QMap>
#include <QString>
#include <QTemporaryDir>

// A Mac volume in a temporary folder, with the volume mapping and the
// standard user defaults pointed at it for as long as the fixture lives. A
// helper daemon started on it ends with it, or at exit(), which removes
// the folder too.
class VolumeFixture
{
public:
    explicit VolumeFixture(const QString &home = QStringLiteral("/Users/tester"));
    ~VolumeFixture();

    bool isValid() const { return m_dir.isValid(); }
    QString root() const { return m_dir.path(); }
    QString home() const { return m_home; }

    // The physical path of a logical one on this volume.
    QString physical(const QString &logical) const;

    // Creates a file (and its folders) at a logical path.
    bool writeFile(const QString &logical, const QByteArray &contents = QByteArray()) const;
    bool makeFolder(const QString &logical) const;
    bool makeLink(const QString &logical, const QString &target) const;

    // Stops every helper daemon running for this volume.
    void stopHelper();

private:
    static void endAllAtExit();

    QTemporaryDir m_dir;
    QString m_home;
};

// Reads a property-list file with Python's plistlib, a reader that shares
// no code with ours, and returns it as compact JSON (dates as ISO text, data
// as hex); empty with a reason in *error when it cannot.
QByteArray readPlistIndependently(const QString &physicalPath, QString *error);

// Every item under the physical folder with its kind and size (a link with
// its target), for "nothing else changed"; `except` is left out. `whole`
// adds each item's mode, owner and group, and each file's content hash.
QMap<QString, QString> treeSnapshot(const QString &root, const QString &except = QString(), bool whole = false);

// Whether the path is one of the folders or lies inside one.
bool isWithinAny(const QString &path, const QStringList &folders);

// The whole file at a physical path, or nothing read when it cannot be opened.
QByteArray fileContents(const QString &physicalPath);

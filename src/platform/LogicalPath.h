#pragma once

#include <QByteArrayView>
#include <QHashFunctions>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

namespace platform {

class Volume;

// A place on the volume being worked on, in the one form the program
// compares: absolute, no empty, "." or ".." component (".." never climbs
// above "/"), no trailing slash except for "/" itself, the home folder
// expanded, and the Mac's "/etc", "/tmp" and "/var" (links into "/private"
// on every Mac volume) written as the "/private/..." places they lead to.
// Two spellings of one place are one value, so a prefix test or a hash
// look-up on it cannot be fooled by "Applications/.." or "//".
//
// A path's identity is the Mac volume's: two spellings that differ only in
// case or Unicode form name one file (see NameFolding.h), so equality,
// order, hashing and isWithin() all use the folded key, while toString()
// keeps the spelling the path was made from, for showing.
//
// Only a volume makes a path from text (Volume::path()), and that can fail;
// what the program builds from a clean path (a child of a folder) stays
// clean by construction, by the rules of the volume that made its folder.
class LogicalPath
{
public:
    // "/" of no volume in particular: its children keep "etc", "tmp" and
    // "var" as they are. Volume::top() is "/" with the volume's rules.
    LogicalPath() : m_path(QStringLiteral("/")), m_key(m_path) {}

    // The path below this one. `relative` is cleaned too, and a ".." in it
    // never climbs above this path, so a name taken from a receipt or an
    // Info.plist can never make a child that lies elsewhere.
    LogicalPath child(QStringView relative) const;

    // Whether the text is one name a folder can hold: not empty, "." or
    // "..", and without a "/".
    static bool isPlainName(QStringView text);
    static bool isPlainName(QByteArrayView utf8);   // the same, on UTF-8 bytes

    LogicalPath parent() const;
    QStringView name() const;   // the last component; empty for "/"

    bool isRoot() const { return m_path.size() == 1; }

    // Whether this path is `folder` itself or lies inside it.
    bool isWithin(const LogicalPath &folder) const;
    // Whether `folder` is parent(), asked without making the parent.
    bool isChildOf(const LogicalPath &folder) const;

    // The spelling, for showing, logging and handing to the disk.
    const QString &toString() const { return m_path; }
    // The folded form that identifies the file: equal for every spelling.
    const QString &key() const { return m_key; }
    // The folder form with a trailing slash, as folder lists show it.
    QString toFolderString() const { return isRoot() ? m_path : m_path + QLatin1Char('/'); }

    friend bool operator==(const LogicalPath &a, const LogicalPath &b) { return a.m_key == b.m_key; }
    friend auto operator<=>(const LogicalPath &a, const LogicalPath &b) { return a.m_key.compare(b.m_key) <=> 0; }

    // Which top-level names lead into "/private" on a volume.
    enum PrivateLink : quint8 { Etc = 1, Tmp = 2, Var = 4 };

private:
    friend class Volume;
    friend class PathMaker;
    // Cleans text that holds no NUL: "~" and "~/x" expand to `home`, a
    // relative text counts from "/".
    static LogicalPath clean(QStringView text, const LogicalPath &home, quint8 privateLinks);
    static bool isClean(QStringView text, quint8 privateLinks);
    // child() of a name the caller found plain (PathMaker checks its bytes).
    LogicalPath childNamed(QStringView name) const;
    // This path, "/" and `relative` folded onto the key, unchecked.
    LogicalPath appended(QStringView relative) const;
    LogicalPath childTheLongWay(QStringView relative) const;

    explicit LogicalPath(QString cleaned, quint8 privateLinks);
    LogicalPath(QString cleaned, QString key, quint8 privateLinks)
        : m_path(std::move(cleaned)), m_key(std::move(key)), m_privateLinks(privateLinks)
    {
    }
    QString m_path;
    QString m_key;   // shares m_path's data when the spelling is already folded
    quint8 m_privateLinks = 0;   // the making volume's PrivateLink bits
};

inline size_t qHash(const LogicalPath &path, size_t seed = 0) noexcept
{
    return qHash(path.key(), seed);
}

// The spellings, in order, for showing and writing.
QStringList toStrings(const QList<LogicalPath> &paths);

} // namespace platform

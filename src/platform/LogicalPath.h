#pragma once

#include <QHashFunctions>
#include <QString>
#include <QStringView>

namespace platform {

// A place on the volume being worked on, in the one form the program
// compares: absolute, no empty, "." or ".." component (".." never climbs
// above "/"), no trailing slash except for "/" itself, the home folder
// expanded, and the Mac's "/etc", "/tmp" and "/var" (links into "/private"
// on every Mac volume) written as the "/private/..." places they lead to. Two spellings of one place are one
// value, so a prefix test or a hash look-up on it cannot be fooled by
// "Applications/.." or "//".
//
// A path's identity is the Mac volume's: two spellings that differ only in
// case or Unicode form name one file (see NameFolding.h), so equality,
// order, hashing and isWithin() all use the folded key, while toString()
// keeps the spelling the path was made from, for showing.
//
// Text from receipts, bills, settings and the command line becomes a path
// only through make(); what the program builds from clean paths (a child of
// a folder) stays clean by construction.
class LogicalPath
{
public:
    LogicalPath() : m_path(QStringLiteral("/")), m_key(m_path) {}

    // Cleans any text: "~" and "~/x" expand to the volume's home folder, a
    // relative text counts from "/". An empty text gives "/", so callers
    // that must tell "nothing" apart check for emptiness first.
    static LogicalPath make(QStringView text);

    // The same cleaning with a home folder of the caller's choice.
    static LogicalPath make(QStringView text, const LogicalPath &home);

    // The path below this one. `relative` is cleaned too, and a ".." in it
    // never climbs above this path, so a name taken from a receipt or an
    // Info.plist can never make a child that lies elsewhere.
    LogicalPath child(QStringView relative) const;

    LogicalPath parent() const;
    QStringView name() const;   // the last component; empty for "/"

    bool isRoot() const { return m_path.size() == 1; }

    // Whether this path is `folder` itself or lies inside it.
    bool isWithin(const LogicalPath &folder) const;

    // The spelling, for showing, logging and handing to the disk.
    const QString &toString() const { return m_path; }
    // The folded form that identifies the file: equal for every spelling.
    const QString &key() const { return m_key; }
    // The folder form with a trailing slash, as folder lists show it.
    QString toFolderString() const { return isRoot() ? m_path : m_path + QLatin1Char('/'); }

    friend bool operator==(const LogicalPath &a, const LogicalPath &b) { return a.m_key == b.m_key; }
    friend auto operator<=>(const LogicalPath &a, const LogicalPath &b) { return a.m_key.compare(b.m_key) <=> 0; }

    // Whether the text is already in the clean form (a fast check that lets
    // the scan skip the cleaning of the bills' half million paths).
    static bool isClean(QStringView text);

private:
    explicit LogicalPath(QString cleaned);
    LogicalPath(QString cleaned, QString key) : m_path(std::move(cleaned)), m_key(std::move(key)) {}
    QString m_path;
    QString m_key;   // shares m_path's data when the spelling is already folded
};

inline size_t qHash(const LogicalPath &path, size_t seed = 0) noexcept
{
    return qHash(path.key(), seed);
}

} // namespace platform

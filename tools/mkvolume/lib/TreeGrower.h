#pragma once

#include "SeededRandom.h"
#include "VolumeItems.h"

#include <QSet>

namespace volumegen {

// Grows the path list of one package: folders of realistic depth filled
// with files whose names and extensions suit the kind of folder. Every path
// comes with its parent folders listed before it, as in a real bill, and
// each growing step adds exactly one entry, so a package can be brought to
// an exact size.
class TreeGrower
{
public:
    enum class Flavor { Resources, Code, Headers, Content, Python };

    explicit TreeGrower(SeededRandom &random) : m_random(random) {}

    // Adds an item after its missing parent folders; a path already present
    // is left as it is. Returns the number of entries added.
    int add(const PathItem &item);
    // Marks a listed folder as one the tree may grow in.
    void addRoot(const QString &folder, Flavor flavor, int weight = 1);
    // Adds files and folders until the list holds `target` entries.
    void growTo(qsizetype target);

    qsizetype size() const { return m_paths.size(); }
    QList<PathItem> take();

private:
    struct Folder
    {
        QString path;
        Flavor flavor;
        int depth;
    };
    QString freshName(const QString &folder, const QString &stem, const QString &extension);
    void addFile(const Folder &folder);
    void addFolder(const Folder &folder);

    SeededRandom &m_random;
    QList<PathItem> m_paths;
    QSet<QString> m_seen;
    QList<Folder> m_folders;
    QList<int> m_rootWeights;   // the first roots, by weight, get the early growth
};

} // namespace volumegen

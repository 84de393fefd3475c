#include "TreeGrower.h"

#include <utility>

namespace volumegen {

namespace {

constexpr int kMaxDepth = 7;   // below a root; roots themselves lie 3 to 6 deep

const QList<QString> kStems{
    QStringLiteral("Panel"), QStringLiteral("Layout"), QStringLiteral("Toolbar"), QStringLiteral("Preview"),
    QStringLiteral("Export"), QStringLiteral("Import"), QStringLiteral("Main"), QStringLiteral("Settings"),
    QStringLiteral("Inspector"), QStringLiteral("Sidebar"), QStringLiteral("Document"), QStringLiteral("Window"),
    QStringLiteral("Palette"), QStringLiteral("Glyph"), QStringLiteral("Brush"), QStringLiteral("Filter"),
    QStringLiteral("Engine"), QStringLiteral("Bridge"), QStringLiteral("Cache"), QStringLiteral("Index"),
    QStringLiteral("Render"), QStringLiteral("Theme"), QStringLiteral("Sound"), QStringLiteral("Help"),
    QStringLiteral("Search"), QStringLiteral("Plugin"), QStringLiteral("Module"), QStringLiteral("Parser"),
    QStringLiteral("Writer"), QStringLiteral("Reader"), QStringLiteral("Account"), QStringLiteral("Sync"),
};
const QList<QString> kSuffixes{
    QString(), QString(), QStringLiteral("View"), QStringLiteral("Controller"), QStringLiteral("Data"),
    QStringLiteral("Model"), QStringLiteral("Sheet"), QStringLiteral("Item"), QStringLiteral("Cell"),
    QStringLiteral("Store"), QStringLiteral("Info"), QStringLiteral("Manager"),
};

struct FlavorNames
{
    QList<QString> extensions;
    QList<QString> folders;
};

const FlavorNames &namesFor(TreeGrower::Flavor flavor)
{
    static const FlavorNames resources{
        {QStringLiteral(".png"), QStringLiteral(".png"), QStringLiteral(".tiff"), QStringLiteral(".strings"),
         QStringLiteral(".nib"), QStringLiteral(".plist"), QStringLiteral(".json"), QStringLiteral(".icns"),
         QStringLiteral(".car"), QStringLiteral(".storyboardc")},
        {QStringLiteral("Base.lproj"), QStringLiteral("en.lproj"), QStringLiteral("de.lproj"), QStringLiteral("fr.lproj"),
         QStringLiteral("ja.lproj"), QStringLiteral("Images"), QStringLiteral("Icons"), QStringLiteral("Templates"),
         QStringLiteral("Themes"), QStringLiteral("Help"), QStringLiteral("Sounds")}};
    static const FlavorNames code{
        {QStringLiteral(".dylib"), QStringLiteral(".a"), QStringLiteral(".so"), QStringLiteral(".bundle"),
         QStringLiteral(".js"), QStringLiteral(".lua"), QStringLiteral(".dat")},
        {QStringLiteral("lib"), QStringLiteral("plugins"), QStringLiteral("modules"), QStringLiteral("engines"),
         QStringLiteral("scripts"), QStringLiteral("support"), QStringLiteral("codecs")}};
    static const FlavorNames headers{
        {QStringLiteral(".h"), QStringLiteral(".h"), QStringLiteral(".hpp"), QStringLiteral(".modulemap"),
         QStringLiteral(".swiftinterface")},
        {QStringLiteral("Internal"), QStringLiteral("Public"), QStringLiteral("detail"), QStringLiteral("impl"),
         QStringLiteral("Modules")}};
    static const FlavorNames content{
        {QStringLiteral(".wav"), QStringLiteral(".aif"), QStringLiteral(".preset"), QStringLiteral(".db"),
         QStringLiteral(".xml"), QStringLiteral(".txt"), QStringLiteral(".pdf"), QStringLiteral(".otf")},
        {QStringLiteral("Presets"), QStringLiteral("Library"), QStringLiteral("Samples"), QStringLiteral("Documentation"),
         QStringLiteral("Examples"), QStringLiteral("Fonts"), QStringLiteral("Data")}};
    static const FlavorNames python{
        {QStringLiteral(".py"), QStringLiteral(".py"), QStringLiteral(".pyc"), QStringLiteral(".pyi"),
         QStringLiteral(".so"), QStringLiteral(".txt")},
        {QStringLiteral("__pycache__"), QStringLiteral("tests"), QStringLiteral("utils"), QStringLiteral("core"),
         QStringLiteral("io"), QStringLiteral("backends"), QStringLiteral("compat")}};
    switch (flavor) {
    case TreeGrower::Flavor::Resources: return resources;
    case TreeGrower::Flavor::Code: return code;
    case TreeGrower::Flavor::Headers: return headers;
    case TreeGrower::Flavor::Content: return content;
    case TreeGrower::Flavor::Python: return python;
    }
    return resources;
}

} // namespace

int TreeGrower::add(const PathItem &item)
{
    if (m_seen.contains(item.path))
        return 0;
    int added = 0;
    for (qsizetype slash = item.path.indexOf(QLatin1Char('/')); slash > 0;
         slash = item.path.indexOf(QLatin1Char('/'), slash + 1)) {
        const QString parent = item.path.left(slash);
        if (m_seen.contains(parent))
            continue;
        m_seen.insert(parent);
        m_paths << PathItem::folder(parent);
        ++added;
    }
    m_seen.insert(item.path);
    m_paths << item;
    return added + 1;
}

void TreeGrower::addRoot(const QString &folder, Flavor flavor, int weight)
{
    add(PathItem::folder(folder));
    for (int i = 0; i < weight; ++i) {
        m_folders << Folder{folder, flavor, 0};
        m_rootWeights << int(m_folders.size() - 1);
    }
}

QString TreeGrower::freshName(const QString &folder, const QString &stem, const QString &extension)
{
    QString name = stem + extension;
    for (int n = 2; m_seen.contains(folder + QLatin1Char('/') + name); ++n)
        name = stem + QLatin1Char('-') + QString::number(n) + extension;
    return name;
}

void TreeGrower::addFile(const Folder &folder)
{
    const FlavorNames &names = namesFor(folder.flavor);
    const QString stem = m_random.pick(kStems) + m_random.pick(kSuffixes);
    const QString path = folder.path + QLatin1Char('/') + freshName(folder.path, stem, m_random.pick(names.extensions));
    // Mostly small, now and then a big one, as in real packages.
    const quint64 size = m_random.chance(0.002) ? m_random.logUniform(4 << 20, 80 << 20) : m_random.logUniform(100, 256 << 10);
    PathItem file = PathItem::file(path, size);
    file.executable = folder.flavor == Flavor::Code && path.endsWith(QLatin1String(".dylib"));
    m_seen.insert(path);
    m_paths << file;
}

void TreeGrower::addFolder(const Folder &folder)
{
    const FlavorNames &names = namesFor(folder.flavor);
    const QString path = folder.path + QLatin1Char('/') + freshName(folder.path, m_random.pick(names.folders), QString());
    m_seen.insert(path);
    m_paths << PathItem::folder(path);
    m_folders << Folder{path, folder.flavor, folder.depth + 1};
}

void TreeGrower::growTo(qsizetype target)
{
    if (m_folders.isEmpty())
        return;
    while (m_paths.size() < target) {
        // Mostly the folders made last (files come in clusters), sometimes
        // any folder at all, sometimes a root again.
        const double roll = m_random.unit();
        const qsizetype count = m_folders.size();
        qsizetype index;
        if (roll < 0.6)
            index = count - 1 - m_random.below(quint32(qMin<qsizetype>(count, 12)));
        else if (roll < 0.9 || m_rootWeights.isEmpty())
            index = m_random.below(quint32(count));
        else
            index = m_random.pick(m_rootWeights);
        const Folder folder = m_folders.at(index);
        if (folder.depth < kMaxDepth && m_random.chance(0.15 / (1 + folder.depth)))
            addFolder(folder);
        else
            addFile(folder);
    }
}

QList<PathItem> TreeGrower::take()
{
    m_seen.clear();
    m_folders.clear();
    m_rootWeights.clear();
    return std::exchange(m_paths, {});
}

} // namespace volumegen

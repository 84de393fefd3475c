#include "platform/Bundle.h"

#include "platform/PropertyList.h"
#include "platform/Volume.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace platform {

namespace {

// The generated Info.plist is compiled into every binary as a resource, for
// programs that run outside the bundle (tests, a copied command line).
const QString kEmbeddedInfo = QStringLiteral(":/bundle/Info.plist");

QString findEnclosingApp(const QString &executableDir)
{
    QDir dir(executableDir);
    for (int depth = 0; depth < 6; ++depth) {
        if (dir.dirName().endsWith(QLatin1String(".app"))
            && QFileInfo::exists(dir.filePath(QStringLiteral("Contents/Info.plist"))))
            return dir.absolutePath();
        if (!dir.cdUp())
            break;
    }
    return QString();
}

Bundle makeMainBundle()
{
    const QString exeDir = QCoreApplication::instance()
        ? QCoreApplication::applicationDirPath()
        : QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath().section(QLatin1Char('/'), 0, -2);
    QString app = findEnclosingApp(exeDir);
    // A program outside the bundle (a test, a tool, a copied command line)
    // may name the bundle it belongs to.
    if (app.isEmpty() && qEnvironmentVariableIsSet("DORVANE_BUNDLE_DIR"))
        app = QDir::cleanPath(QDir(qEnvironmentVariable("DORVANE_BUNDLE_DIR")).absolutePath());
    if (!app.isEmpty()) {
        Bundle bundle = Bundle::fromPath(app);
        if (bundle.isValid())
            return bundle;
    }
    return Bundle::fromPath(QString());
}

} // namespace

Bundle Bundle::fromPath(const QString &appPath)
{
    Bundle bundle;
    if (appPath.isEmpty()) {
        bundle.m_info = PropertyList::readFile(kEmbeddedInfo).toMap();
        return bundle;
    }
    bundle.m_info = PropertyList::readFile(appPath + QLatin1String("/Contents/Info.plist")).toMap();
    if (!bundle.m_info.isEmpty())
        bundle.m_path = appPath;
    return bundle;
}

const Bundle &Bundle::main()
{
    static const Bundle bundle = makeMainBundle();
    return bundle;
}

QString Bundle::resourcesPath() const
{
    return m_path.isEmpty() ? QString() : m_path + QLatin1String("/Contents/Resources");
}

std::shared_ptr<const Volume> Bundle::door() const
{
    return m_path.isEmpty() ? nullptr : Volume::open(m_path, QStringLiteral("/"));
}

QString Bundle::privateFrameworksPath() const
{
    return m_path.isEmpty() ? QString() : m_path + QLatin1String("/Contents/Frameworks");
}

} // namespace platform

#include "BundleLayout.h"

#include "IconMaker.h"
#include "SeededRandom.h"


namespace volumegen::BundleLayout {

namespace {

QString bundleBaseName(const AppBundle &app)
{
    QString name = app.path.section(QLatin1Char('/'), -1);
    if (name.endsWith(QLatin1String(".app")))
        name.chop(4);
    if (name.startsWith(QLatin1Char('.')))   // installed under a hidden name
        name.remove(0, 1);
    return name;
}

QString executableName(const AppBundle &app)
{
    return app.executable.isEmpty() ? bundleBaseName(app) : app.executable;
}

void appendTree(QList<PathItem> &out, const AppBundle &app, const QString &bundlePath, const QString &movedTo)
{
    const QString id = app.bundleIdentifier.isEmpty() ? bundleBaseName(app) : app.bundleIdentifier;
    QList<PathItem> items;
    items << PathItem::folder(QString());
    items << PathItem::folder(QStringLiteral("/Contents"));
    PathItem info = PathItem::file(QStringLiteral("/Contents/Info.plist"), 0);
    info.contents = infoPlist(app);
    items << info;
    PathItem pkgInfo = PathItem::file(QStringLiteral("/Contents/PkgInfo"), 0);
    pkgInfo.contents = QByteArrayLiteral("APPL????");
    items << pkgInfo;
    items << PathItem::folder(QStringLiteral("/Contents/MacOS"));
    PathItem executable = PathItem::file(QStringLiteral("/Contents/MacOS/") + executableName(app), app.executableSize);
    executable.executable = true;
    items << executable;
    items << PathItem::folder(QStringLiteral("/Contents/Resources"));
    if (!app.iconFile.isEmpty()) {
        PathItem icon = PathItem::file(QStringLiteral("/Contents/Resources/") + app.iconFile, 0);
        icon.contents = IconMaker::icns(IconMaker::Style::Application, SeededRandom::hash(id));
        items << icon;
    }
    items << PathItem::folder(QStringLiteral("/Contents/Resources/en.lproj"));
    PathItem strings = PathItem::file(QStringLiteral("/Contents/Resources/en.lproj/InfoPlist.strings"), 0);
    strings.contents = QStringLiteral("\"CFBundleName\" = \"%1\";\n").arg(displayName(app)).toUtf8();
    items << strings;
    if (app.resourcesSize > 0) {
        const quint64 nib = app.resourcesSize / 8;
        items << PathItem::file(QStringLiteral("/Contents/Resources/en.lproj/MainMenu.nib"), nib);
        items << PathItem::file(QStringLiteral("/Contents/Resources/Assets.car"), app.resourcesSize - nib);
    }
    items << PathItem::folder(QStringLiteral("/Contents/_CodeSignature"));
    items << PathItem::file(QStringLiteral("/Contents/_CodeSignature/CodeResources"), 2048 + SeededRandom::hash(id) % 4096);

    for (PathItem item : std::as_const(items)) {
        const QString suffix = item.path;
        item.path = bundlePath + suffix;
        item.onDisk = app.onDisk;
        if (!movedTo.isEmpty())
            item.movedTo = movedTo + suffix;
        out << item;
    }
    if (!app.nested.isEmpty()) {
        const QString loginItems = QStringLiteral("/Contents/Library/LoginItems");
        out << PathItem::folder(bundlePath + QStringLiteral("/Contents/Library"));
        out << PathItem::folder(bundlePath + loginItems);
        for (PathItem *folder : {&out[out.size() - 2], &out[out.size() - 1]}) {
            folder->onDisk = app.onDisk;
            if (!movedTo.isEmpty())
                folder->movedTo = movedTo + folder->path.mid(bundlePath.size());
        }
        for (AppBundle helper : app.nested) {
            helper.onDisk = helper.onDisk && app.onDisk;
            const QString name = helper.path.section(QLatin1Char('/'), -1);
            appendTree(out, helper, bundlePath + loginItems + QLatin1Char('/') + name,
                       movedTo.isEmpty() ? QString() : movedTo + loginItems + QLatin1Char('/') + name);
        }
    }
}

} // namespace

QString displayName(const AppBundle &app)
{
    return app.name.isEmpty() ? bundleBaseName(app) : app.name;
}

QByteArray infoPlist(const AppBundle &app)
{
    QVariantMap info{
        {QStringLiteral("CFBundleDevelopmentRegion"), QStringLiteral("en")},
        {QStringLiteral("CFBundleExecutable"), executableName(app)},
        {QStringLiteral("CFBundleInfoDictionaryVersion"), QStringLiteral("6.0")},
        {QStringLiteral("CFBundlePackageType"), QStringLiteral("APPL")},
        {QStringLiteral("CFBundleShortVersionString"), app.version},
        {QStringLiteral("CFBundleVersion"), QString(app.version).remove(QLatin1Char('.'))},
        {QStringLiteral("LSMinimumSystemVersion"), QStringLiteral("10.13")},
        {QStringLiteral("NSHighResolutionCapable"), true},
    };
    if (!app.name.isEmpty())
        info.insert(QStringLiteral("CFBundleName"), app.name);
    if (!app.bundleIdentifier.isEmpty())
        info.insert(QStringLiteral("CFBundleIdentifier"), app.bundleIdentifier);
    if (!app.iconFile.isEmpty())
        info.insert(QStringLiteral("CFBundleIconFile"), app.iconFile);
    return platform::PropertyList::toData(info, app.infoFormat);
}

QList<PathItem> paths(const AppBundle &app, const QString &bundlePath)
{
    QList<PathItem> out;
    appendTree(out, app, bundlePath, app.movedTo);
    return out;
}

} // namespace volumegen::BundleLayout

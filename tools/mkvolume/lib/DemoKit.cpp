#include "DemoKit.h"

namespace volumegen {

Package DemoKit::receipt(const QString &identifier, const QString &version, Package::Location location)
{
    Package package;
    package.identifier = identifier;
    package.version = version;
    package.location = location;
    package.installDate = installDate();
    if (location == Package::User) {
        package.uid = 501;   // the first user of a Mac, group staff
        package.gid = 20;
    }
    return package;
}

QDateTime DemoKit::installDate()
{
    const QDateTime first(QDate(2019, 9, 1), QTime(8, 0), Qt::UTC);
    return first.addSecs(random.between(0, 5LL * 365 * 86400));
}

PathItem DemoKit::file(const QString &path, quint64 low, quint64 high)
{
    return PathItem::file(path, random.logUniform(low, high));
}

PathItem DemoKit::executable(const QString &path, quint64 low, quint64 high)
{
    PathItem item = file(path, low, high);
    item.executable = true;
    return item;
}

PathItem DemoKit::text(const QString &path, const QByteArray &contents)
{
    PathItem item = PathItem::file(path, 0);
    item.contents = contents;
    return item;
}

PathItem DemoKit::launchdJob(const QString &path, const QString &label, const QString &program)
{
    const QVariantMap job{
        {QStringLiteral("Label"), label},
        {QStringLiteral("ProgramArguments"), QVariantList{program}},
        {QStringLiteral("RunAtLoad"), true},
        {QStringLiteral("KeepAlive"), true},
    };
    return text(path, platform::PropertyList::toData(job, platform::PropertyList::Format::Xml));
}

QList<PathItem> DemoKit::folderOf(const QString &folder, const QStringList &names, quint64 low, quint64 high)
{
    QList<PathItem> out{PathItem::folder(folder)};
    for (const QString &name : names)
        out << file(folder + QLatin1Char('/') + name, low, high);
    return out;
}

} // namespace volumegen

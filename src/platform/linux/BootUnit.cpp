#include "platform/BootUnit.h"

#include <QCryptographicHash>
#include <QFile>

namespace platform::BootUnit {

namespace {

const QString kUnits = QStringLiteral("/etc/systemd/system");
const QString kTools = QStringLiteral("/usr/local/libexec/dorvane");

QStringList argumentsOf(const QVariantMap &job)
{
    QStringList arguments = job.value(QStringLiteral("ProgramArguments")).toStringList();
    if (!arguments.isEmpty() && job.value(QStringLiteral("KeepAlive")).toBool())
        arguments.insert(1, QStringLiteral("--keep-alive"));
    return arguments;
}

// systemd's quoting: every word in double quotes, "\" and "\"" escaped,
// "%" doubled and "$" doubled, so no argument is split or expanded.
QString quoted(const QString &word)
{
    QString out = word;
    out.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('"'), QLatin1String("\\\""));
    out.replace(QLatin1Char('%'), QLatin1String("%%")).replace(QLatin1Char('$'), QLatin1String("$$"));
    return QLatin1Char('"') + out + QLatin1Char('"');
}

LogicalPath under(const Volume &host, const QString &folder, const QString &name)
{
    return host.top().child(folder).child(name);
}

} // namespace

bool systemdRunsTheMachine()
{
    QFile comm(QStringLiteral("/proc/1/comm"));
    return comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "systemd";
}

QString unitName(const QVariantMap &job)
{
    const QStringList arguments = argumentsOf(job);
    const QByteArray volume = arguments.value(arguments.indexOf(QStringLiteral("--root")) + 1).toUtf8();
    const QString digest = QString::fromLatin1(QCryptographicHash::hash(volume, QCryptographicHash::Sha1).toHex().left(12));
    return job.value(QStringLiteral("Label")).toString() + QLatin1Char('-') + digest + QLatin1String(".service");
}

QByteArray unitText(const QVariantMap &job, const QString &tool)
{
    const QStringList arguments = argumentsOf(job);
    QStringList words{QLatin1Char('@') + tool};
    for (const QString &argument : arguments)
        words.append(quoted(argument));
    const QString root = arguments.value(arguments.indexOf(QStringLiteral("--root")) + 1);
    return QStringLiteral("[Unit]\n"
                          "Description=Dorvane's privileged helper tool for the volume at %1\n"
                          "RequiresMountsFor=%2\n\n"
                          "[Service]\n"
                          "ExecStart=%3\n\n"
                          "[Install]\n"
                          "WantedBy=multi-user.target\n")
        .arg(root, quoted(root), words.join(QLatin1Char(' ')))
        .toUtf8();
}

bool install(const Volume &host, const QVariantMap &job, const QByteArray &tool, QString *error)
{
    const QString name = unitName(job);
    const LogicalPath copy = under(host, kTools, name.chopped(8));
    const LogicalPath unit = under(host, kUnits, name);
    const LogicalPath wanted = under(host, kUnits + QLatin1String("/multi-user.target.wants"), name);
    return host.makeFolders(copy.parent(), error) && host.makeFolders(wanted.parent(), error)
           && host.writeFile(copy, tool, error, 0755) && host.writeFile(unit, unitText(job, copy.toString()), error)
           && host.makeLink(wanted, QFile::encodeName(QStringLiteral("../") + name), error);
}

void remove(const Volume &host, const QVariantMap &job)
{
    const QString name = unitName(job);
    for (const LogicalPath &path : {under(host, kUnits + QLatin1String("/multi-user.target.wants"), name),
                                    under(host, kUnits, name), under(host, kTools, name.chopped(8))})
        host.removeItem(path);
}

} // namespace platform::BootUnit

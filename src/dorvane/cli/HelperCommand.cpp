#include "dorvane/cli/HelperCommand.h"

#include "dorvane/cli/ExitCode.h"
#include "dorvane/toolclient/HelperInstaller.h"
#include "helperwire/HelperLabel.h"

#include <QCommandLineParser>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <cstdio>

namespace dorvane {

namespace {

QJsonValue jsonOf(const std::optional<QString> &text)
{
    return text ? QJsonValue(*text) : QJsonValue(QJsonValue::Null);
}

int printStatus(bool json)
{
    const HelperStatus status = HelperInstaller::helperStatus();
    QTextStream out(stdout);
    if (json) {
        const QJsonObject object{
            {QStringLiteral("label"), helperwire::helperLabel()},
            {QStringLiteral("installed"), status.installed},
            {QStringLiteral("installedTool"), status.installed ? QJsonValue(status.installedTool) : QJsonValue()},
            {QStringLiteral("installedVersion"), jsonOf(status.installedVersion)},
            {QStringLiteral("shippedVersion"), jsonOf(status.shippedVersion)},
            {QStringLiteral("running"), status.running},
            {QStringLiteral("socket"), status.socketPath},
            {QStringLiteral("pid"), status.pid ? QJsonValue(double(*status.pid)) : QJsonValue()}};
        out << QJsonDocument(object).toJson(QJsonDocument::Indented);
        return ExitSuccess;
    }
    const auto version = [](const std::optional<QString> &v) { return v ? *v : QStringLiteral("none"); };
    out << "label: " << helperwire::helperLabel() << '\n';
    if (status.installed)
        out << "installed: yes, " << status.installedTool << ", version " << version(status.installedVersion) << '\n';
    else
        out << "installed: no\n";
    out << "shipped version: " << version(status.shippedVersion) << '\n';
    out << "running: " << (status.running ? "yes" : "no");
    if (status.pid)
        out << ", pid " << *status.pid;
    out << '\n' << "socket: " << status.socketPath << '\n';
    return ExitSuccess;
}

} // namespace

int runHelperCommand(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Print a JSON object."));
    parser.addOption(json);
    const QStringList verbs{QStringLiteral("status"), QStringLiteral("install"), QStringLiteral("remove")};
    if (!parser.parse(arguments) || parser.positionalArguments().size() != 1
        || !verbs.contains(parser.positionalArguments().first())
        || (parser.isSet(json) && parser.positionalArguments().first() != verbs.first())) {
        std::fprintf(stderr, "usage: dorvane helper status [--json] | install | remove\n");
        return ExitUsage;
    }
    const QString verb = parser.positionalArguments().first();
    if (verb == QLatin1String("status"))
        return printStatus(parser.isSet(json));
    QTextStream out(stdout);
    if (verb == QLatin1String("install")) {
        bool installed = false;
        if (const std::optional<HelperError> error = HelperInstaller::blessHelper(&installed)) {
            std::fprintf(stderr, "%s\n", qPrintable(error->description()));
            return ExitFailure;
        }
        out << (installed ? "installed " : "up to date ") << helperwire::helperLabel() << '\n';
        return ExitSuccess;
    }
    QString error;
    if (!HelperInstaller::removeHelper(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return ExitFailure;
    }
    out << "removed " << helperwire::helperLabel() << '\n';
    return ExitSuccess;
}

} // namespace dorvane

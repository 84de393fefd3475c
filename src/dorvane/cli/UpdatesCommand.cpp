#include "dorvane/cli/UpdatesCommand.h"

#include "dorvane/cli/ExitCode.h"
#include "dorvane/updates/UpdateCheck.h"

#include <QCommandLineParser>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <cstdio>

namespace dorvane {

int runUpdatesCommand(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Print a JSON object."));
    const QCommandLineOption feed(QStringLiteral("feed"), QStringLiteral("The feed to ask."), QStringLiteral("URL"));
    parser.addOption(json);
    parser.addOption(feed);
    if (!parser.parse(arguments) || !parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "usage: dorvane check-updates [--feed URL] [--json]\n");
        return ExitUsage;
    }

    updates::UpdateCheck check;
    if (parser.isSet(feed))
        check.setFeedUrl(QUrl::fromUserInput(parser.value(feed)));
    const updates::UpdateCheckResult result = check.runAndWait();
    if (!result.succeeded()) {
        std::fprintf(stderr, "%s\n", result.error.toLocal8Bit().constData());
        return ExitFailure;
    }

    QTextStream out(stdout);
    if (parser.isSet(json)) {
        const QJsonObject object{
            {QStringLiteral("feed"), result.feed.toString(QUrl::RemoveUserInfo)},
            {QStringLiteral("currentVersion"), result.currentVersion},
            {QStringLiteral("currentBuild"), result.currentBuild},
            {QStringLiteral("newestVersion"), result.newestVersion},
            {QStringLiteral("newestBuild"), result.newestBuild},
            {QStringLiteral("updateAvailable"), result.updateAvailable},
            {QStringLiteral("downloadUrl"), result.downloadUrl},
            {QStringLiteral("downloadPage"), result.downloadPage},
            {QStringLiteral("releaseNotesLink"), result.releaseNotesLink},
            {QStringLiteral("releaseNotes"), result.releaseNotes},
        };
        out << QJsonDocument(object).toJson(QJsonDocument::Indented);
        return ExitSuccess;
    }
    if (!result.updateAvailable) {
        out << "Dorvane " << result.currentVersion << " (" << result.currentBuild << ") is up to date; the newest is "
            << result.newestVersion << " (" << result.newestBuild << ").\n";
        return ExitSuccess;
    }
    out << "Dorvane " << result.newestVersion << " (" << result.newestBuild << ") is available; this is "
        << result.currentVersion << " (" << result.currentBuild << ").\n";
    // An information-only release has no download, only its page.
    if (!result.downloadUrl.isEmpty())
        out << "Download: " << result.downloadUrl << '\n';
    if (!result.downloadPage.isEmpty())
        out << "Page: " << result.downloadPage << '\n';
    if (!result.releaseNotesLink.isEmpty())
        out << "Release notes: " << result.releaseNotesLink << '\n';
    return ExitSuccess;
}

} // namespace dorvane

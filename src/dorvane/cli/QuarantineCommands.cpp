#include "dorvane/cli/QuarantineCommands.h"

#include "dorvane/cli/ExitCode.h"
#include "dorvane/cli/HelperSession.h"
#include "dorvane/toolclient/DeleteHelper.h"
#include "dorvane/uninstall/KeptRuns.h"
#include "helperwire/HelperRequest.h"
#include "kestrum/Alert.h"
#include "kestrum/Format.h"

#include <QCommandLineParser>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QTextStream>

#include <cstdio>

namespace dorvane {

namespace {

QJsonObject jsonOf(const KeptRun &run, int days)
{
    QJsonObject object{{QStringLiteral("run"), run.run},
                       {QStringLiteral("created"), run.created.toString(Qt::ISODate)},
                       {QStringLiteral("keptUntil"), run.keptUntil(days).toString(Qt::ISODate)},
                       {QStringLiteral("packages"), QJsonArray::fromStringList(run.packages)},
                       {QStringLiteral("items"), run.items},
                       {QStringLiteral("bytes"), run.bytes}};
    return object;
}

// A run named on the command line must be of a run's form; said when not.
bool isRunForm(const QString &run)
{
    const QString why = helperwire::runIdRefusal(run);
    if (!why.isEmpty())
        complain(QStringLiteral("'%1' %2").arg(run, why));
    return why.isEmpty();
}

bool confirmed(const QString &question, const QString &button)
{
    return kestrum::alert(QStringLiteral("Warning"), question, button, QStringLiteral("Cancel")) == 1000;
}

} // namespace

int runUndoCommand(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Print one JSON object: what came back."));
    const QCommandLineOption yes(QStringLiteral("yes"), QStringLiteral("Put the items back without asking."));
    parser.addOptions({json, yes});
    if (!parser.parse(arguments) || parser.positionalArguments().size() > 1) {
        complain(QStringLiteral("usage: dorvane undo [RUN-ID] [--json] [--yes]"));
        return ExitUsage;
    }
    const QString named = parser.positionalArguments().value(0);
    if (!named.isEmpty() && !isRunForm(named))
        return ExitUsage;
    agreeIfAsked(parser.isSet(yes));
    const std::unique_ptr<DeleteHelper> helper = connectedHelper();
    if (!helper)
        return ExitFailure;
    QString error;
    const std::optional<KeptRun> run = named.isEmpty() ? KeptRuns::last(*helper, &error) : KeptRuns::describe(*helper, named, &error);
    if (!run) {
        complain(error.isEmpty() ? QStringLiteral("the quarantine keeps no run to undo") : error);
        return named.isEmpty() && error.isEmpty() ? ExitFailure : ExitUsage;
    }
    if (!confirmed(KeptRuns::undoQuestion(*run), QStringLiteral("Undo"))) {
        complain(QStringLiteral("nothing restored: not confirmed (--yes confirms it)"));
        return ExitNotConfirmed;
    }
    const UndoOutcome outcome = KeptRuns::undo(*helper, run->run);
    if (parser.isSet(json)) {
        const QJsonObject object{{QStringLiteral("run"), outcome.run},
                                 {QStringLiteral("error"), outcome.error.isEmpty() ? QJsonValue() : QJsonValue(outcome.error)},
                                 {QStringLiteral("restored"), QJsonArray::fromStringList(outcome.restored)},
                                 {QStringLiteral("neverMoved"), QJsonArray::fromStringList(outcome.neverMoved)},
                                 {QStringLiteral("notRestored"), QJsonArray::fromStringList(outcome.notRestored)},
                                 {QStringLiteral("dockTiles"), outcome.dockTiles},
                                 {QStringLiteral("loginItems"), outcome.loginItems}};
        QTextStream(stdout) << QJsonDocument(object).toJson(QJsonDocument::Indented);
    } else {
        QTextStream out(stdout);
        for (const QString &line : outcome.report())
            out << line << '\n';
    }
    if (!outcome.error.isEmpty())
        return ExitFailure;
    return outcome.complete() ? ExitSuccess : ExitSomeFailed;
}

int runQuarantineCommand(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Print a JSON array of the runs."));
    const QCommandLineOption all(QStringLiteral("all"), QStringLiteral("Empty every run."));
    const QCommandLineOption yes(QStringLiteral("yes"), QStringLiteral("Empty without asking."));
    parser.addOptions({json, all, yes});
    const QStringList words = parser.parse(arguments) ? parser.positionalArguments() : QStringList();
    const QString verb = words.value(0);
    const bool list = verb == QLatin1String("list") && words.size() == 1 && !parser.isSet(all) && !parser.isSet(yes);
    const bool empty = verb == QLatin1String("empty") && !parser.isSet(json)
                       && (words.size() == 2) != parser.isSet(all) && words.size() <= 2;
    if (!list && !empty) {
        complain(QStringLiteral("usage: dorvane quarantine list [--json] | empty [RUN-ID|--all] [--yes]"));
        return ExitUsage;
    }
    if (empty && words.size() == 2 && !isRunForm(words[1]))
        return ExitUsage;
    agreeIfAsked(parser.isSet(yes));
    const std::unique_ptr<DeleteHelper> helper = connectedHelper();
    if (!helper)
        return ExitFailure;
    QString error;
    const std::optional<QList<KeptRun>> runs = KeptRuns::list(*helper, &error);
    if (!runs) {
        complain(error);
        return ExitFailure;
    }
    const int days = KeptRuns::keepDays();
    QTextStream out(stdout);
    if (list) {
        QJsonArray array;
        for (const KeptRun &run : *runs) {
            array.append(jsonOf(run, days));
            if (!parser.isSet(json))
                out << run.run << "  " << QLocale::system().toString(run.created.toLocalTime(), QLocale::ShortFormat)
                    << "  " << run.packages.join(QStringLiteral(", ")) << "  " << run.items << " items  "
                    << QLocale::system().formattedDataSize(run.bytes) << "  kept until "
                    << QLocale::system().toString(run.keptUntil(days).toLocalTime(), QLocale::ShortFormat) << '\n';
        }
        if (parser.isSet(json))
            out << QJsonDocument(array).toJson(QJsonDocument::Indented);
        return ExitSuccess;
    }
    QStringList chosen;
    for (const KeptRun &run : *runs) {
        if (parser.isSet(all) || run.run == words.value(1))
            chosen.append(run.run);
    }
    if (!parser.isSet(all) && chosen.isEmpty()) {
        complain(QStringLiteral("no such run in the quarantine: ") + words.value(1));
        return ExitUsage;
    }
    if (!confirmed(kestrum::makeString("Do you really want to empty %li quarantined run(s)? What they keep is removed "
                                       "for good and no undo can bring it back.",
                                       qint64(chosen.size())),
                   QStringLiteral("Empty"))) {
        complain(QStringLiteral("nothing emptied: not confirmed (--yes confirms it)"));
        return ExitNotConfirmed;
    }
    int failed = 0;
    for (const QString &run : std::as_const(chosen)) {
        if (KeptRuns::empty(*helper, run, &error)) {
            out << "emptied " << run << '\n';
        } else {
            complain(QStringLiteral("%1 was not emptied: %2").arg(run, error));
            ++failed;
        }
    }
    return failed == 0 ? ExitSuccess : ExitSomeFailed;
}

} // namespace dorvane

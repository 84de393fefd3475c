#include "dorvane/cli/CommandLineTool.h"

#include "dorvane/StartUp.h"
#include "dorvane/cli/CatalogueCommands.h"
#include "dorvane/cli/ExitCode.h"
#include "dorvane/cli/HelperCommand.h"
#include "dorvane/cli/PlanCommand.h"
#include "dorvane/cli/QuarantineCommands.h"
#include "dorvane/cli/ReceiptsCommand.h"
#include "dorvane/cli/UninstallCommand.h"
#include "dorvane/cli/UpdatesCommand.h"
#include "kestrum/AlertPresenter.h"
#include "kestrum/Kestrum.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>
#include <memory>

namespace dorvane {

namespace {

void printLine(FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fputc('\n', stream);
}

} // namespace

int CommandLineTool::run(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Lists the installer packages recorded on a Mac volume and removes them safely."));
    // Global options come before the command; what follows it is the command's.
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    parser.addHelpOption();
    const QCommandLineOption versionOption(QStringLiteral("version"), QStringLiteral("Print the version and exit."));
    const QCommandLineOption yesOption(QStringLiteral("yes"),
                                       QStringLiteral("Answer every question with its first button instead of the "
                                                      "answer that changes nothing."));
    parser.addOption(versionOption);
    parser.addOption(yesOption);
    StartUp::addVolumeOptions(parser);
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("receipts [--json]: the receipts recorded on the volume.\n"
                                                "list [--apps|--defunct] [--search TEXT] [--json]: the packages, "
                                                "as the window lists them.\n"
                                                "files ID... [--json]: the files of packages, and which are "
                                                "missing.\n"
                                                "plan ID... [--json]: what uninstalling packages would remove "
                                                "and keep; removes nothing.\n"
                                                "uninstall ID... [--json] [--yes]: removes the packages as the window "
                                                "does; without --yes it prints the plan and removes nothing.\n"
                                                "undo [RUN-ID] [--json] [--yes]: puts back what an uninstall "
                                                "removed (the last one by default), from the quarantine.\n"
                                                "quarantine list [--json] | empty [RUN-ID|--all] [--yes]: the "
                                                "uninstall runs the quarantine keeps, and emptying them for good.\n"
                                                "forget ID... [--json] [--yes]: forgets the packages' receipts and "
                                                "leaves their files.\n"
                                                "helper status [--json] | install | remove: the privileged helper "
                                                "tool's job on the volume; install and remove ask for an "
                                                "administrator's password unless run as root.\n"
                                                "check-updates [--feed URL] [--json]: whether the update feed "
                                                "offers a newer build than this one."),
                                 QStringLiteral("command [options]"));

    if (!parser.parse(arguments)) {
        printLine(stderr, parser.errorText());
        return ExitUsage;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        printLine(stdout, parser.helpText());
        return ExitSuccess;
    }
    QString error;
    if (!StartUp::configureVolume(parser, &error)) {
        printLine(stderr, error);
        return ExitUsage;
    }
    kestrum::setAlertPresenter(std::make_shared<kestrum::ConsolePresenter>(parser.isSet(yesOption)));
    StartUp::registerDefaults();
    StartUp::runCommonSteps();

    const QStringList positional = parser.positionalArguments();
    if (parser.isSet(versionOption)) {
        printLine(stdout, QStringLiteral("%1 %2 (%3)")
                              .arg(kestrum::hx->appName(), kestrum::hx->appVersionString())
                              .arg(kestrum::hx->appBuildNumber()));
        return ExitSuccess;
    }
    if (positional.isEmpty()) {
        printLine(stderr, parser.helpText());
        return ExitUsage;
    }
    // Each command parses its own options; the global ones are already taken.
    const QString command = positional.first();
    const QStringList commandArguments = QStringList{QStringLiteral("dorvane ") + command} + positional.mid(1);
    if (command == QLatin1String("receipts"))
        return runReceiptsCommand(commandArguments);
    if (command == QLatin1String("list"))
        return runListCommand(commandArguments);
    if (command == QLatin1String("files"))
        return runFilesCommand(commandArguments);
    if (command == QLatin1String("plan"))
        return runPlanCommand(commandArguments);
    if (command == QLatin1String("uninstall"))
        return runUninstallCommand(commandArguments);
    if (command == QLatin1String("undo"))
        return runUndoCommand(commandArguments);
    if (command == QLatin1String("quarantine"))
        return runQuarantineCommand(commandArguments);
    if (command == QLatin1String("forget"))
        return runForgetCommand(commandArguments);
    if (command == QLatin1String("helper"))
        return runHelperCommand(commandArguments);
    if (command == QLatin1String("check-updates"))
        return runUpdatesCommand(commandArguments);
    printLine(stderr, QStringLiteral("dorvane: unknown command '%1'").arg(command));
    return ExitUsage;
}

} // namespace dorvane

// The privileged helper tool: runs as root in the foreground (whoever starts
// it detaches it) and removes, terminates and forgets for the application.
//
//   <label> [--keep-alive] --root PHYSICAL_ROOT --serve-uid UID --home LOGICAL_HOME [--read-timeout-ms N]
//
// The home is the served user's home folder on the volume: the user's own
// receipts and settings are found there, and a user's receipt justifies
// removals only inside it.
//
// With --keep-alive it is the job's keeper (KeepAlive.h) and runs the
// service as a child of its own, handing it the socket by --listen-fd.

#include "HelperService.h"
#include "KeepAlive.h"
#include "ToolLog.h"

#include "platform/Memory.h"
#include "platform/Volume.h"

#include <QCommandLineParser>
#include <QStringList>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

namespace {

struct Arguments
{
    QString root;
    QString home;
    bool keepAlive = false;
    helpertool::ServiceOptions service;
};

// The arguments, or nothing with the reason in *error.
std::optional<Arguments> parseArguments(int argc, char **argv, QString *error)
{
    QStringList words;
    for (int i = 0; i < argc; ++i)
        words.append(QString::fromLocal8Bit(argv[i]));
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption root(QStringLiteral("root"), QString(), QStringLiteral("dir"));
    const QCommandLineOption home(QStringLiteral("home"), QString(), QStringLiteral("dir"));
    const QCommandLineOption uid(QStringLiteral("serve-uid"), QString(), QStringLiteral("uid"));
    const QCommandLineOption timeout(QStringLiteral("read-timeout-ms"), QString(), QStringLiteral("ms"));
    const QCommandLineOption keepAlive(QStringLiteral("keep-alive"));
    const QCommandLineOption listenFd(QStringLiteral("listen-fd"), QString(), QStringLiteral("fd"));
    parser.addOptions({root, home, uid, timeout, keepAlive, listenFd});
    if (!parser.parse(words)) {
        *error = parser.errorText();
        return std::nullopt;
    }
    if (!parser.positionalArguments().isEmpty()) {
        *error = QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first());
        return std::nullopt;
    }
    Arguments arguments;
    arguments.root = parser.value(root);
    arguments.home = parser.value(home);
    bool ok = false;
    const qulonglong servedUid = parser.value(uid).toULongLong(&ok);
    // (uid_t)-1 means "no user" to the system, so it serves nobody.
    if (arguments.root.isEmpty() || !arguments.home.startsWith(QLatin1Char('/')) || !ok
        || servedUid >= 0xffffffffULL) {
        *error = QStringLiteral("--root, a numeric --serve-uid and an absolute --home are required");
        return std::nullopt;
    }
    arguments.service.servedUid = uid_t(servedUid);
    arguments.keepAlive = parser.isSet(keepAlive);
    if (parser.isSet(listenFd)) {
        arguments.service.listener = parser.value(listenFd).toInt(&ok);
        if (!ok || arguments.service.listener < 3 || arguments.keepAlive) {
            *error = QStringLiteral("--listen-fd takes the keeper's socket descriptor");
            return std::nullopt;
        }
    }
    if (parser.isSet(timeout)) {
        const int ms = parser.value(timeout).toInt(&ok);
        if (!ok || ms <= 0) {
            *error = QStringLiteral("--read-timeout-ms takes a positive number of milliseconds");
            return std::nullopt;
        }
        arguments.service.readTimeoutMilliseconds = ms;
    }
    return arguments;
}

} // namespace

int main(int argc, char **argv)
{
    platform::keepFreedMemoryForReuse();
    QString error;
    const std::optional<Arguments> arguments = parseArguments(argc, argv, &error);
    if (!arguments) {
        std::fprintf(stderr, "%s\nusage: %s [--keep-alive] --root PHYSICAL_ROOT --serve-uid UID --home LOGICAL_HOME "
                             "[--read-timeout-ms N]\n",
                     qPrintable(error), argc > 0 ? argv[0] : "helper");
        return 2;
    }
    if (!platform::Volume::configure(arguments->root, arguments->home, &error)) {
        std::fprintf(stderr, "--root %s: %s\n", qPrintable(arguments->root), qPrintable(error));
        return 2;
    }
    // Blocked before any thread starts, so every thread inherits the mask and
    // the signals reach only the service's signal descriptor.
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGINT);
    pthread_sigmask(SIG_BLOCK, &mask, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    if (arguments->keepAlive) {
        std::vector<char *> server;
        static char listenOption[] = "--listen-fd", listenValue[] = "3";
        for (int i = 0; i < argc; ++i) {
            if (std::strcmp(argv[i], "--keep-alive") != 0 && std::strcmp(argv[i], "-keep-alive") != 0)
                server.push_back(argv[i]);
        }
        server.insert(server.end(), {listenOption, listenValue, nullptr});
        return helpertool::keepAlive(server.data());
    }

    helpertool::HelperService service(arguments->service);
    if (!service.start(&error)) {
        helpertool::toolLog(helpertool::LogError, QStringLiteral("cannot start: %1").arg(error));
        return 1;
    }
    service.run();
    return 0;
}

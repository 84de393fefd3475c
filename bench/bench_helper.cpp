// Removes one large package through the running helper tool, as an
// uninstall does (its files in one request, then its folders, each checked
// against the package's receipt on the volume, which the tool reads itself),
// and an equal tree with `rm -rf`, side by side in the same run, and prints
// both times and their ratio. The tool checks every item and walks by
// descriptor, never following a link; the price of that care should stay
// small next to a plain rm -rf.
//
//   bench_helper [folders] [files per folder] [rounds]   defaults: 1000 100 3
//
// Runs as any user: the tool serves the user who starts it here.

#include "helperwire/FrameChannel.h"
#include "helperwire/HelperLabel.h"
#include "helperwire/HelperReply.h"
#include "helperwire/HelperRequest.h"
#include "platform/Volume.h"

#include "VolumeBuilder.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

// A tree of `folders` folders of `files` empty files each.
bool makeTree(const QString &root, int folders, int files)
{
    for (int d = 0; d < folders; ++d) {
        const QByteArray folder = QFile::encodeName(root) + "/d" + QByteArray::number(d);
        if (!QDir().mkpath(QFile::decodeName(folder)))
            return false;
        for (int f = 0; f < files; ++f) {
            const int fd = ::open(folder + "/f" + QByteArray::number(f), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
            if (fd < 0)
                return false;
            ::close(fd);
        }
    }
    return true;
}

// The package's receipt and its tree on the volume: `folders` folders of
// `files` empty files each, every one listed by the package. The paths of
// its files, and of its folders deepest first, as an uninstall sends them.
bool makePackage(const QString &volume, const QString &identifier, const QString &top, int folders, int files,
                 QList<platform::LogicalPath> *filePaths, QList<platform::LogicalPath> *folderPaths)
{
    volumegen::Package package;
    package.identifier = identifier;
    package.paths.append(volumegen::PathItem::folder(top));
    const platform::LogicalPath topPath = platform::Volume::current()->top().child(top);
    for (int d = 0; d < folders; ++d) {
        const QString folder = top + QStringLiteral("/d%1").arg(d);
        package.paths.append(volumegen::PathItem::folder(folder));
        folderPaths->append(topPath.child(QStringLiteral("d%1").arg(d)));
        for (int f = 0; f < files; ++f) {
            package.paths.append(volumegen::PathItem::file(folder + QStringLiteral("/f%1").arg(f), 0));
            filePaths->append(folderPaths->last().child(QStringLiteral("f%1").arg(f)));
        }
    }
    folderPaths->append(topPath);
    volumegen::VolumeBuilder builder(volume, QStringLiteral("/Users/bench"));
    builder.addReceipt(package);
    return builder.write();
}

// Starts the tool on the volume and waits until it answers on its socket.
bool startTool(QProcess &tool, const QString &volume)
{
    tool.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    tool.setStandardErrorFile(QProcess::nullDevice());
    tool.start(QStringLiteral(DORVANE_HELPER_TOOL),
               {QStringLiteral("--root"), volume, QStringLiteral("--serve-uid"), QString::number(::getuid()),
                QStringLiteral("--home"), QStringLiteral("/Users/bench")});
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        const int fd = platform::Volume::current()->connectToSocket(helperwire::socketPath());
        if (fd >= 0) {
            ::close(fd);
            return true;
        }
        QThread::msleep(10);
    }
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int folders = args.value(1, QStringLiteral("1000")).toInt();
    const int files = args.value(2, QStringLiteral("100")).toInt();
    const int rounds = args.value(3, QStringLiteral("3")).toInt();
    QTemporaryDir scratch;
    const QString volume = scratch.filePath(QStringLiteral("volume"));
    if (!scratch.isValid() || !QDir().mkpath(volume) || !platform::Volume::configure(volume, QString())) {
        std::fprintf(stderr, "cannot make the volume\n");
        return 1;
    }
    QProcess tool;
    if (!startTool(tool, volume)) {
        std::fprintf(stderr, "the helper tool did not start\n");
        return 1;
    }
    std::printf("%d folders x %d files = %d files per tree, %d rounds\n", folders, files, folders * files, rounds);
    QList<double> ratios;
    for (int round = 1; round <= rounds; ++round) {
        const QString planned = QStringLiteral("/Applications/Tree%1.app").arg(round);
        const QString peer = scratch.filePath(QStringLiteral("rm-tree%1").arg(round));
        const QStringList packages{QStringLiteral("com.bench.tree%1").arg(round)};
        QList<platform::LogicalPath> filePaths, folderPaths;
        if (!makePackage(volume, packages.first(), planned.mid(1), folders, files, &filePaths, &folderPaths)
            || !makeTree(peer, folders, files)) {
            std::fprintf(stderr, "cannot make the trees\n");
            return 1;
        }
        ::sync();

        // Each removes in turn first, so that neither gains from the other's
        // work on the disk's journal.
        helperwire::Message reply, folderReply;
        bool answered = false;
        qint64 toolNs = 0, rmNs = 0;
        int rmStatus = -1;
        const auto byTool = [&] {
            QElapsedTimer timer;
            timer.start();
            helperwire::FrameChannel channel(platform::Volume::current()->connectToSocket(helperwire::socketPath()));
            using Status = helperwire::FrameChannel::Status;
            answered = channel.send(helperwire::deleteMessage(filePaths, packages), 10000) == Status::Ok
                       && channel.receive(&reply, -1) == Status::Ok
                       && channel.send(helperwire::deleteEmptyFolderMessage(folderPaths, packages), 10000) == Status::Ok
                       && channel.receive(&folderReply, -1) == Status::Ok;
            toolNs = timer.nsecsElapsed();
        };
        const auto byRm = [&] {
            QElapsedTimer timer;
            timer.start();
            rmStatus = QProcess::execute(QStringLiteral("rm"), {QStringLiteral("-rf"), peer});
            rmNs = timer.nsecsElapsed();
        };
        if (round % 2) {
            byTool();
            byRm();
        } else {
            byRm();
            byTool();
        }

        const auto wentAll = [](const helperwire::Message &message) {
            const std::optional<helperwire::Reply> typed = helperwire::decodeReply(message.value(QStringLiteral("reply")));
            return typed && typed->failures().isEmpty();
        };
        if (!answered || !wentAll(reply) || !wentAll(folderReply) || QDir(volume + planned).exists() || rmStatus != 0
            || QDir(peer).exists()) {
            std::fprintf(stderr, "a tree was not removed: replies %s %s\n",
                         qPrintable(reply.value(QStringLiteral("reply")).left(300)),
                         qPrintable(folderReply.value(QStringLiteral("reply")).left(300)));
            return 1;
        }
        // The package is uninstalled: its receipt goes too, so that every
        // round's tool reads one package's receipts, as an uninstall's does.
        helperwire::FrameChannel channel(platform::Volume::current()->connectToSocket(helperwire::socketPath()));
        helperwire::Message forgot;
        if (channel.send(helperwire::forgetMessage(packages.first(), packages), 10000) != helperwire::FrameChannel::Status::Ok
            || channel.receive(&forgot, -1) != helperwire::FrameChannel::Status::Ok || !wentAll(forgot)) {
            std::fprintf(stderr, "the receipt was not forgotten\n");
            return 1;
        }
        ratios.append(double(toolNs) / double(rmNs));
        std::printf("round %d: helper tool %.0f ms, rm -rf %.0f ms, ratio %.2f\n", round, toolNs / 1e6, rmNs / 1e6,
                    ratios.last());
    }
    std::sort(ratios.begin(), ratios.end());
    std::printf("median ratio %.2f (target: at most 1.5)\n", ratios[ratios.size() / 2]);
    tool.terminate();
    tool.waitForFinished();
    return 0;
}

// Removes one large package through the running helper tool, as an
// uninstall does (its files in one request, then its folders, each checked
// against the package's receipt on the volume, which the tool reads itself),
// and an equal tree with `rm -rf`, side by side in the same run, and prints
// both times and their ratio. The tool checks every item and walks by
// descriptor, never following a link; the price of that care should stay
// small next to a plain rm -rf.
//
// With "keep" the removal moves the package into a quarantine run instead,
// and the run is then restored and, moved again, emptied: each of the three
// is timed beside an rm -rf of its own equal tree, and so is the floor of
// keeping: a plain loop renaming each file of a third tree.
//
//   bench_helper [folders] [files per folder] [rounds] [forgood|keep]   defaults: 1000 100 3 forgood
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
#include <functional>
#include <map>
#include <string>
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

// The floor of keeping: a plain loop that renames each file of a tree made
// by makeTree into one folder, then removes the emptied folders; no checks,
// no records, one system call per item as an unlink would take.
bool renameEach(const QString &root, int folders, int files, const QString &into)
{
    const QByteArray base = QFile::encodeName(root), target = QFile::encodeName(into);
    int n = 0;
    for (int d = 0; d < folders; ++d) {
        const QByteArray folder = base + "/d" + QByteArray::number(d);
        for (int f = 0; f < files; ++f) {
            if (::rename(folder + "/f" + QByteArray::number(f), target + "/" + QByteArray::number(n++)) != 0)
                return false;
        }
        if (::rmdir(folder) != 0)
            return false;
    }
    return ::rmdir(base) == 0;
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
    const bool keep = args.value(4) == QLatin1String("keep");
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
    std::map<std::string, QList<double>> ratios;
    for (int round = 1; round <= rounds; ++round) {
        const QString planned = QStringLiteral("/Applications/Tree%1.app").arg(round);
        const QStringList packages{QStringLiteral("com.bench.tree%1").arg(round)};
        QList<platform::LogicalPath> filePaths, folderPaths;
        if (!makePackage(volume, packages.first(), planned.mid(1), folders, files, &filePaths, &folderPaths)) {
            std::fprintf(stderr, "cannot make the trees\n");
            return 1;
        }
        ::sync();

        using Status = helperwire::FrameChannel::Status;
        const auto ask = [&](const helperwire::Message &message) {
            helperwire::FrameChannel channel(platform::Volume::current()->connectToSocket(helperwire::socketPath()));
            helperwire::Message reply;
            const bool answered = channel.send(message, 10000) == Status::Ok && channel.receive(&reply, -1) == Status::Ok;
            const std::optional<helperwire::Reply> typed =
                answered ? helperwire::decodeReply(reply.value(QStringLiteral("reply"))) : std::nullopt;
            if (!typed || !typed->failures().isEmpty() || !typed->removedForGood().isEmpty()) {
                std::fprintf(stderr, "the tool did not do it all: %s\n", qPrintable(reply.value(QStringLiteral("reply")).left(300)));
                return false;
            }
            return true;
        };
        // The files in one request, then the folders, as an uninstall sends them.
        const auto removePackage = [&](const QString &run) {
            return ask(helperwire::withRun(helperwire::deleteMessage(filePaths, packages), run))
                   && ask(helperwire::withRun(helperwire::deleteEmptyFolderMessage(folderPaths, packages), run));
        };
        // Times one step of the tool and an rm -rf of an equal tree, each
        // going first in turn, so that neither gains from the other's work
        // on the disk's journal.
        int step = 0;
        const auto sideBySide = [&](const char *name, const std::function<bool()> &byTool) {
            const QString peer = scratch.filePath(QStringLiteral("rm-tree%1-%2").arg(round).arg(step));
            if (!makeTree(peer, folders, files))
                return false;
            ::sync();
            qint64 toolNs = 0, rmNs = 0;
            bool done = false;
            int rmStatus = -1;
            const auto timeTool = [&] {
                QElapsedTimer timer;
                timer.start();
                done = byTool();
                toolNs = timer.nsecsElapsed();
            };
            const auto timeRm = [&] {
                QElapsedTimer timer;
                timer.start();
                rmStatus = QProcess::execute(QStringLiteral("rm"), {QStringLiteral("-rf"), peer});
                rmNs = timer.nsecsElapsed();
            };
            if ((round + step++) % 2) {
                timeTool();
                timeRm();
            } else {
                timeRm();
                timeTool();
            }
            if (!done || rmStatus != 0 || QDir(peer).exists())
                return false;
            ratios[name].append(double(toolNs) / double(rmNs));
            std::printf("round %d, %-9s measured %6.0f ms, rm -rf %6.0f ms, ratio %.2f\n", round, name, toolNs / 1e6,
                        rmNs / 1e6, ratios[name].last());
            return true;
        };
        bool ok = true;
        if (keep) {
            const QString floorTree = scratch.filePath(QStringLiteral("floor-tree%1").arg(round));
            const QString floorKept = scratch.filePath(QStringLiteral("floor-kept%1").arg(round));
            ok = makeTree(floorTree, folders, files) && QDir().mkpath(floorKept)
                 && sideBySide("floor", [&] { return renameEach(floorTree, folders, files, floorKept); })
                 && QProcess::execute(QStringLiteral("rm"), {QStringLiteral("-rf"), floorKept}) == 0;
            const QString run = helperwire::newRunId(), again = helperwire::newRunId();
            ok = ok && sideBySide("keep", [&] { return removePackage(run); })
                 && sideBySide("undo", [&] { return ask(helperwire::restoreMessage(run)); })
                 && QDir(volume + planned).exists() && removePackage(again)
                 && sideBySide("empty", [&] { return ask(helperwire::emptyQuarantineMessage(again)); });
        } else {
            ok = sideBySide("remove", [&] { return removePackage(QString()); });
        }
        if (!ok || QDir(volume + planned).exists()) {
            std::fprintf(stderr, "a step failed\n");
            return 1;
        }
        // The package is uninstalled: its receipt goes too, so that every
        // round's tool reads one package's receipts, as an uninstall's does.
        if (!ask(helperwire::forgetMessage(packages.first(), packages))) {
            std::fprintf(stderr, "the receipt was not forgotten\n");
            return 1;
        }
    }
    for (auto &[name, values] : ratios) {
        std::sort(values.begin(), values.end());
        std::printf("%s: median ratio %.2f (target: at most %s)\n", name.c_str(), values[values.size() / 2],
                    name == "remove" ? "1.5" : name == "empty" ? "1.2" : name == "floor" ? "none, the floor of keep" : "1.0");
    }
    tool.terminate();
    tool.waitForFinished();
    return 0;
}

#include "dorvane/uninstall/AppIntegration.h"

#include "kestrum/Log.h"
#include "kestrum/Predicate.h"
#include "platform/NameFolding.h"
#include "platform/PropertyList.h"
#include "platform/ReadLimits.h"
#include "platform/RunningProcesses.h"
#include "platform/UserDefaults.h"
#include "platform/Volume.h"

#include <QCoreApplication>
#include <QHash>

#include <algorithm>
#include <functional>
#include <optional>

namespace dorvane::AppIntegration {

namespace {

using platform::Follow;
using platform::LogicalPath;
using platform::Volume;

// The results of a login item's resolution, numbered as the Mac's
// LaunchServices numbers them.
constexpr int kFileNotFound = -43;   // the entry's program is gone
constexpr int kIOError = -36;        // the entry cannot be read
constexpr int kParamError = -50;     // the entry names no absolute program

constexpr qint64 kDesktopEntryLimit = 64 * 1024;

// The bundle whose MacOS folder holds the executable itself, if any.
std::optional<LogicalPath> bundleOfExecutable(const LogicalPath &executable)
{
    const LogicalPath macOS = executable.parent();
    const LogicalPath contents = macOS.parent();
    const LogicalPath bundle = contents.parent();
    if (!platform::isSameName(macOS.name(), u"MacOS") || !platform::isSameName(contents.name(), u"Contents")
        || !bundle.name().endsWith(u".app", Qt::CaseInsensitive))
        return std::nullopt;
    return bundle;
}

// Signals every process the test accepts, this one excepted: the program
// never ends itself half-way through an uninstall.
void endProcesses(const std::function<bool(const LogicalPath &)> &accepts, bool force)
{
    const qint64 self = QCoreApplication::applicationPid();
    for (const platform::RunningProcess &process : platform::runningProcesses()) {
        if (process.pid == self || !accepts(process.executable))
            continue;
        if (force)
            platform::forceTerminate(process.pid, process.executable);
        else
            platform::terminate(process.pid, process.executable);
    }
}

// The first word of a desktop entry's Exec value: the value's own escapes
// ("\s", "\n", "\t", "\r", "\\") undone, then the word's double quotes and
// the backslashes inside or outside them. Empty for an unclosed quote.
QString firstWord(QStringView value)
{
    QString text;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        const char16_t next = c == u'\\' && i + 1 < value.size() ? value[++i].unicode() : 0;
        switch (next) {
        case 0: text += c; break;
        case u's': text += u' '; break;
        case u'n': text += u'\n'; break;
        case u't': text += u'\t'; break;
        case u'r': text += u'\r'; break;
        case u'\\': text += u'\\'; break;
        default: text += c; text += QChar(next); // an escape of the word, undone below
        }
    }
    QString word;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        QChar c = text[i];
        if (!quoted && (c == u' ' || c == u'\t'))
            break;
        if (c == u'"') {
            quoted = !quoted;
            continue;
        }
        if (c == u'\\' && i + 1 < text.size())
            c = text[++i];
        word += c;
    }
    return quoted ? QString() : word;
}

// The program an autostart entry starts: the Exec key of its
// "[Desktop Entry]" group (actions have groups of their own).
QString execProgram(const QByteArray &entry)
{
    bool inEntry = false;
    for (const QByteArray &bytes : entry.split('\n')) {
        const QString line = QString::fromUtf8(bytes).trimmed();
        if (line.startsWith(u'['))
            inEntry = line == u"[Desktop Entry]";
        else if (inEntry && line.section(u'=', 0, 0).trimmed() == u"Exec")
            return firstWord(QStringView(line).mid(line.indexOf(u'=') + 1).trimmed());
    }
    return {};
}

// What an autostart entry resolves to, with its links resolved on the
// volume, or a resolution error.
std::optional<LogicalPath> resolveEntry(const LogicalPath &entry, int *error)
{
    const std::optional<QByteArray> bytes = Volume::current()->readFile(entry, kDesktopEntryLimit);
    const QString program = bytes ? execProgram(*bytes) : QString();
    const std::optional<LogicalPath> path = program.startsWith(u'/') ? platform::volumePath(program) : std::nullopt;
    *error = !bytes ? kIOError : !path ? kParamError : 0;
    if (*error)
        return std::nullopt;
    const std::shared_ptr<const Volume> volume = Volume::current();
    const std::optional<LogicalPath> real = volume->status(*path, Follow::Final) ? volume->resolved(*path) : std::nullopt;
    if (!real) {
        *error = kFileNotFound;
        return std::nullopt;
    }
    return bundleOfExecutable(*real).value_or(*real);
}

} // namespace

void quitApp(const QString &bundleIdentifier)
{
    if (bundleIdentifier.isEmpty())
        return;
    QHash<LogicalPath, bool> identified; // each bundle's Info.plist read once
    endProcesses([&](const LogicalPath &executable) {
        const std::optional<LogicalPath> bundle = bundleOfExecutable(executable);
        if (!bundle)
            return false;
        auto known = identified.constFind(*bundle);
        if (known == identified.cend()) {
            const std::optional<QVariantMap> info =
                platform::PropertyList::readDictionary(bundle->child(u"Contents/Info.plist"), platform::ReadLimit::kInfoPlist);
            const QVariant identifier = info ? info->value(QStringLiteral("CFBundleIdentifier")) : QVariant();
            known = identified.insert(*bundle, identifier.typeId() == QMetaType::QString
                                                   && identifier.toString() == bundleIdentifier);
        }
        return *known;
    }, true);
}

void removeLoginItem_LS(const QUrl &appURL, const std::function<bool(const LogicalPath &entry)> &keep)
{
    // Without a home folder on the volume there is no session to hold login
    // items.
    const LogicalPath home = Volume::current()->home();
    if (const std::optional<platform::ItemStatus> status = Volume::current()->status(home, Follow::Final);
        !status || !status->isDirectory()) {
        kestrum::asl_NSLog(kestrum::LogWarning, "Warning: _RemoveLoginItem : LSSharedFileListCreate delivered NULL list!");
        return;
    }
    const LogicalPath folder = home.child(u".config/autostart");
    if (!Volume::current()->status(folder, Follow::Final))
        return; // no login items yet
    std::optional<QStringList> names = Volume::current()->list(folder);
    if (!names) {
        kestrum::asl_NSLog(kestrum::LogWarning,
                           "Warning: _RemoveLoginItem : LSSharedFileListCopySnapshot delivered NULL list!");
        return;
    }
    names->sort();
    const std::optional<LogicalPath> target =
        appURL.isLocalFile() ? platform::volumePath(appURL.toLocalFile()) : std::nullopt;
    for (const QString &name : std::as_const(*names)) {
        if (!name.endsWith(QLatin1String(".desktop")))
            continue;
        const LogicalPath entry = folder.child(name);
        int error = 0;
        const std::optional<LogicalPath> item = resolveEntry(entry, &error);
        if (error && error != kFileNotFound)
            kestrum::asl_NSLog(kestrum::LogWarning, "Warning: removeLoginItem: LSSharedFileListItemResolve error %i", error);
        else if (item && item == target && !(keep && keep(entry)))
            Volume::current()->removeItem(entry);
    }
}

namespace {

const QString kPersistentApps = QStringLiteral("persistent-apps");

platform::UserDefaults &dockDefaults()
{
    platform::UserDefaults &dock = platform::UserDefaults::domain(QStringLiteral("com.apple.dock"));
    dock.reload(); // the Dock writes its settings itself
    return dock;
}

QVariant tileURL(const QVariant &tile)
{
    return tile.toMap().value(QStringLiteral("tile-data")).toMap().value(QStringLiteral("file-data")).toMap().value(
        QStringLiteral("_CFURLString"));
}

} // namespace

bool removeFromDock(const QUrl &appURL, QList<DockTile> *removed)
{
    if (appURL.isEmpty())
        return false;
    platform::UserDefaults &dock = dockDefaults();
    QVariantMap domain = dock.persistentDomain();
    const QVariant tiles = domain.value(kPersistentApps);
    if (tiles.typeId() != QMetaType::QVariantList)
        return false;
    // The URL's absolute text as the Mac writes it, percent-encoded.
    const QString text = appURL.toString(QUrl::FullyEncoded);
    // A tile without a URL text is kept.
    const kestrum::Predicate keeps =
        kestrum::makePredicate("not %K CONTAINS %@", "tile-data.file-data._CFURLString", text);
    QVariantList kept;
    const QVariantList all = tiles.toList();
    for (qsizetype i = 0; i < all.size(); ++i) {
        if (keeps(all[i]))
            kept.append(all[i]);
        else if (removed)
            removed->append({int(i), all[i]});
    }
    if (kept.size() == all.size())
        return false;
    domain.insert(kPersistentApps, kept);
    dock.setPersistentDomain(domain);
    return true;
}

int restoreDockTiles(const QList<DockTile> &tiles)
{
    if (tiles.isEmpty())
        return 0;
    platform::UserDefaults &dock = dockDefaults();
    QVariantMap domain = dock.persistentDomain();
    QVariantList current = domain.value(kPersistentApps).toList();
    QList<DockTile> ordered = tiles;
    std::sort(ordered.begin(), ordered.end(), [](const DockTile &a, const DockTile &b) { return a.index < b.index; });
    int restored = 0;
    for (const DockTile &tile : std::as_const(ordered)) {
        const QVariant url = tileURL(tile.tile);
        const bool there = std::any_of(current.cbegin(), current.cend(),
                                       [&](const QVariant &other) { return tileURL(other) == url; });
        if (there)
            continue;
        current.insert(std::clamp<qsizetype>(tile.index, 0, current.size()), tile.tile);
        ++restored;
    }
    if (restored > 0) {
        domain.insert(kPersistentApps, current);
        dock.setPersistentDomain(domain);
    }
    return restored;
}

void quitDock()
{
    // What the Mac runs to make the Dock reread its settings; here the
    // Dock's processes are ended instead, and the script is only logged.
    kestrum::asl_NSLog(kestrum::LogInfo, QStringLiteral("quitDock: tell application \"/System/Library/CoreServices/Dock.app\" to quit"));
    const LogicalPath dock = Volume::current()->top().child(u"System/Library/CoreServices/Dock.app");
    endProcesses([&](const LogicalPath &executable) { return executable.isWithin(dock); }, false);
}

} // namespace dorvane::AppIntegration

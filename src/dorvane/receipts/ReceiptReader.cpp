#include "dorvane/receipts/ReceiptReader.h"

#include "kestrum/Format.h"
#include "platform/PackageBOM.h"
#include "platform/PackageReceipt.h"
#include "platform/PropertyList.h"
#include "platform/ReadLimits.h"
#include "platform/Volume.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace dorvane {

using kestrum::makeString;
using platform::LogicalPath;

namespace {

using Context = ReceiptReader::Context;

constexpr int LogError = ReceiptProblem::Error;
constexpr int LogWarning = ReceiptProblem::Warning;

bool isAscii(QByteArrayView bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) < 0x80; });
}

// Whether a folder's child by this relative path is the two joined with a
// "/", as LogicalPath::child() finds it when the join is clean: no empty,
// "." or ".." name (a bill's "\r" cut off can leave an empty one) and,
// below "/", no first name that stands for a link into "/private". Anything
// else is left to child() itself.
bool joinsAsItIs(QByteArrayView relative, bool underTop)
{
    if (relative.isEmpty())
        return false;
    const char *text = relative.data();
    const qsizetype size = relative.size();
    for (qsizetype start = 0; start <= size;) {
        qsizetype end = start;
        while (end < size && text[end] != '/')
            ++end;
        const QByteArrayView name(text + start, end - start);
        if (name.isEmpty() || name == "." || name == "..")
            return false;
        if (underTop && start == 0 && name.size() == 3
            && (name.compare("etc", Qt::CaseInsensitive) == 0 || name.compare("tmp", Qt::CaseInsensitive) == 0
                || name.compare("var", Qt::CaseInsensitive) == 0))
            return false;
        start = end + 1;
    }
    return true;
}

// The folder's immediate entries with exactly this extension, as absolute
// paths, in the file system's order. A folder that exists but cannot be
// listed contributes nothing, and says so.
QStringList entriesWithExtension(const Context &c, const LogicalPath &folder, const QString &extension)
{
    QStringList result;
    const std::optional<QStringList> names = c.volume.list(folder);
    if (!names) {
        if (c.volume.status(folder, platform::Follow::Final))
            c.log(LogWarning, makeString("Warning: cannot read the receipts folder %@", folder.toString()));
        return result;
    }
    for (const QString &name : *names) {
        if (QFileInfo(name).suffix() == extension)
            result.append(folder.child(name).toString());
    }
    return result;
}

QVariant readPropertyList(const Context &c, const QString &logicalPath, bool *readable)
{
    QString problem;
    const std::optional<LogicalPath> path = c.volume.path(logicalPath);
    const std::optional<QByteArray> bytes =
        path ? c.volume.readFile(*path, platform::ReadLimit::kReceipt, &problem) : std::nullopt;
    *readable = bytes.has_value();
    if (!bytes) {
        if (path && c.volume.status(*path, platform::Follow::Final))
            c.log(LogError, makeString("Error: cannot read the receipt %@: %@", logicalPath, problem));
        return QVariant();
    }
    return platform::PropertyList::fromData(*bytes);
}

void addModernReceipts(const Context &c, const QStringList &plistPaths, const LogicalPath &userFolder,
                       QList<PackageRecord> &result)
{
    for (const QString &plistPath : plistPaths) {
        bool readable = false;
        const QVariant parsed = readPropertyList(c, plistPath, &readable);
        if (!parsed.isValid()) {
            c.log(LogError, makeString("Error: damaged receipt installed %@", plistPath));
            continue;
        }
        if (parsed.typeId() != QMetaType::QVariantMap) {
            c.report({LogError, makeString("Error: receipt with array installed %@", plistPath),
                      QStringLiteral("Dorvane encountered a malformed package receipt."),
                      makeString("\nfile: %@\n\ncontent: %@", plistPath, kestrum::describe(parsed))});
            continue;
        }
        PackageRecord record(parsed.toMap());
        // Only the extension is replaced: "a.plistreader.plist" has the bill
        // "a.plistreader.bom".
        const QString bomPath = plistPath.chopped(5) + QLatin1String("bom");
        record.setValue(PackageKey::BOMPath, bomPath);
        record.setValue(PackageKey::PlistPath, plistPath);
        const std::optional<LogicalPath> plist = c.volume.path(plistPath);
        if (plist && plist->isWithin(userFolder))
            record.setUserPrefix();
        const std::optional<LogicalPath> bill = c.volume.path(bomPath);
        if (bill && c.volume.status(*bill, platform::Follow::Final))
            result.append(record);
        else
            c.log(LogError, makeString("Error: receipt plist without accompanying BOM installed, please remove manually: %@",
                      plistPath));
    }
}

// The bill of a legacy bundle: "Contents/Archive.bom", else the one ".bom"
// anywhere inside the bundle. Empty when there is none or more than one.
QString legacyBill(const Context &c, const QString &bundlePath, const QString &infoPath)
{
    const std::optional<LogicalPath> info = c.volume.path(infoPath);
    const std::optional<LogicalPath> bundle = c.volume.path(bundlePath);
    if (!info || !bundle)
        return QString();
    const LogicalPath archive = info->parent().child(u"Archive.bom");
    if (c.volume.status(archive, platform::Follow::Final))
        return archive.toString();
    // The one bill anywhere inside, walked by descriptor and never through
    // a link inside the bundle.
    QList<LogicalPath> bills;
    const auto walk = [&](const auto &self, const platform::VolumeFolder &folder, const LogicalPath &path) -> void {
        for (const platform::VolumeFolder::Entry &entry : folder.entries().value_or(QList<platform::VolumeFolder::Entry>())) {
            const LogicalPath child = path.child(QFile::decodeName(entry.name));
            if (entry.isDirectory) {
                if (const std::optional<platform::VolumeFolder> inner = folder.openChild(entry.name))
                    self(self, *inner, child);
            } else if (QFileInfo(child.toString()).suffix() == QLatin1String("bom")) {
                bills.append(child);
            }
        }
    };
    if (const std::optional<platform::VolumeFolder> top = platform::VolumeFolder::opened(c.volume, *bundle))
        walk(walk, *top, *bundle);
    if (bills.size() == 1 && c.volume.status(bills.first(), platform::Follow::Final))
        return bills.first().toString();
    return QString();
}

void addLegacyReceipts(const Context &c, QList<PackageRecord> &result)
{
    const LogicalPath folder = c.volume.top().child(ReceiptReader::kLegacyReceipts);
    for (const QString &bundlePath : entriesWithExtension(c, folder, QStringLiteral("pkg"))) {
        const QString name = bundlePath.section(QLatin1Char('/'), -1);
        const QString infoPath = bundlePath + QLatin1String("/Contents/Info.plist");

        bool readable = false;
        const QVariant parsed = readPropertyList(c, infoPath, &readable);
        if (!readable) {
            // The base system's own bundle comes without one; that is normal.
            if (name != QLatin1String("BSD.pkg"))
                c.log(LogError, makeString("Error: damaged receipt installed, please remove manually: %@", bundlePath));
            continue;
        }
        if (!parsed.isValid()) {
            c.log(LogError, makeString("Error: damaged receipt installed, please remove manually: %@", bundlePath));
            continue;
        }
        const QString bomPath = legacyBill(c, bundlePath, infoPath);
        if (bomPath.isEmpty()) {
            c.log(LogError, makeString("Error: incomplete receipt installed, please remove manually: %@", bundlePath));
            continue;
        }

        const QVariantMap info = parsed.toMap();
        PackageRecord record;
        record.setValue(PackageKey::BOMPath, bomPath);
        record.setValue(PackageKey::PKGPath, bundlePath);
        record.setValue(PackageKey::PackageFileName, name);
        QVariant identifier = info.value(QStringLiteral("CFBundleIdentifier"));
        if (!identifier.isValid())
            identifier = info.value(QStringLiteral("CFBundleName"));
        record.setValue(PackageKey::PackageIdentifier, identifier.isValid() ? identifier : QVariant(name));
        const QVariant version = info.value(QStringLiteral("CFBundleShortVersionString"));
        if (version.isValid())
            record.setValue(PackageKey::PackageVersion, version);
        result.append(record);
    }
}

} // namespace

ReceiptReader::ReceiptReader(std::shared_ptr<const platform::Volume> volume, ProblemSink sink)
    : m_volume(std::move(volume))
    , m_sink(std::move(sink))
{
}

QList<PackageRecord> ReceiptReader::packages() const
{
    const Context c = context();
    const LogicalPath userFolder = userReceiptsFolder();
    QList<PackageRecord> result;
    addModernReceipts(c,
                      entriesWithExtension(c, c.volume.top().child(kSystemReceipts), QStringLiteral("plist"))
                          + entriesWithExtension(c, userFolder, QStringLiteral("plist")),
                      userFolder, result);
    addLegacyReceipts(c, result);
    return result;
}

LogicalPath ReceiptReader::userReceiptsFolder() const
{
    return m_volume->home().child(QStringView(kUserReceipts).mid(2));
}

LogicalPath ReceiptReader::installLocation(PackageRecord &record) const
{
    const Context c = context();
    std::optional<QString> prefix;
    const std::optional<LogicalPath> bill = c.volume.path(record.bomPath());
    if (const auto receipt = bill ? platform::PackageReceipt::openWithBOMPath(*bill) : std::nullopt) {
        prefix = receipt->installPrefixPath();
    } else {
        c.log(LogError, makeString("Error: failed to get PKReceipt for the damaged package, which should be "
                                       "removed: %@",
                                       record.description()));
        record.setDamaged();
    }

    // The prefix is text from the receipt: "Applications/..", "./" or "//"
    // all become the place they name, and a user package's prefix never
    // leaves the home folder.
    const LogicalPath base = record.hasUserPrefix() ? c.volume.home() : c.volume.top();
    return prefix ? base.child(*prefix) : base;
}

std::optional<platform::PackageBOM> ReceiptReader::openBill(PackageRecord &record) const
{
    const Context c = context();
    const std::optional<LogicalPath> bill = c.volume.path(record.bomPath());
    auto bom = bill ? platform::PackageBOM::openWithBOMPath(*bill) : std::nullopt;
    if (!bom) {
        c.log(LogError, makeString("Failed to get PKBOM for the damaged package, which should be removed: %@",
                                       record.description()));
        record.setDamaged();
    }
    return bom;
}

QStringList ReceiptReader::files(PackageRecord &record, const LogicalPath &prefix) const
{
    const auto bom = openBill(record);
    if (!bom)
        return {};
    const std::optional<QStringList> entries = bom->paths();
    if (!entries) {
        context().log(LogError, makeString("Exception getting PKBOM for the damaged package, which should be "
                                           "removed: %@",
                                           record.description()));
        return {};
    }
    QStringList files;
    files.reserve(entries->size());
    for (const QString &entry : *entries) {
        // Finder's "Icon\r" files end in a carriage return; the bill keeps it.
        const QStringView name = entry.endsWith(QLatin1Char('\r')) ? QStringView(entry).chopped(1) : QStringView(entry);
        files.append(prefix.child(name).toString());
    }
    return files;
}

bool ReceiptReader::forEachFile(PackageRecord &record, const LogicalPath &prefix,
                                const std::function<void(QByteArrayView path)> &visit,
                                const std::function<void(qsizetype paths, qsizetype bytes)> &expect) const
{
    const auto bom = openBill(record);
    if (!bom)
        return false;
    const bool underTop = prefix.isRoot();
    QByteArray path = underTop ? QByteArray() : prefix.toString().toUtf8();
    const qsizetype folder = path.size();
    if (expect)
        expect(bom->pathCount(), qsizetype(bom->pathBytes()) + bom->pathCount() * (folder + 1));
    QByteArray decoded;
    const bool listed = bom->forEachPath([&](QByteArrayView entry) {
        // Read as files() reads it: an invalid byte stands for U+FFFD.
        if (!isAscii(entry)) {
            decoded = QString::fromUtf8(entry).toUtf8();
            entry = decoded;
        }
        if (!entry.isEmpty() && entry.back() == '\r')
            entry = entry.chopped(1);
        if (!joinsAsItIs(entry, underTop)) {
            visit(prefix.child(QString::fromUtf8(entry)).toString().toUtf8());
            return;
        }
        path.truncate(folder);
        path.append('/');
        path.append(entry);
        visit(path);
    });
    if (!listed) {
        context().log(LogError, makeString("Exception getting PKBOM for the damaged package, which should be "
                                           "removed: %@",
                                           record.description()));
    }
    return listed;
}

} // namespace dorvane

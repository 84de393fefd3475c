// Fuzz target for the receipt store, from the bytes of a receipt to the
// package records a scan makes and the places they name. The input is a
// receipt property list, optionally followed by the separator below and a
// legacy bundle's Contents/Info.plist (without one, the same bytes serve as
// both). They are written into a small volume in a temporary folder as a
// system receipt, a user receipt and a legacy bundle, each beside a sound
// bill, and the store scans it as the program does. Whatever the receipts
// say, nothing crashes, each record keeps the paths it was found at, the
// install location is a clean path (a user package's inside the home
// folder), and every file of the bill lies inside that location.
#include "FuzzFail.h"
#include "dorvane/receipts/PackageHelperNative.h"
#include "kestrum/AlertPresenter.h"
#include "platform/Volume.h"
#include "platform/bom/BomReader.h"
#include "platform/bom/BomWriter.h"

#include <QTemporaryDir>

#include <cstdint>

#include <syslog.h>

using namespace dorvane;
using platform::LogicalPath;
using platform::Volume;

namespace {

const QByteArray kSeparator = QByteArrayLiteral("\n#Contents/Info.plist#\n");
const QString kSystemReceipt = QStringLiteral("/private/var/db/receipts/org.fuzz.pkg.plist");
const QString kSystemBill = QStringLiteral("/private/var/db/receipts/org.fuzz.pkg.bom");
const QString kUserReceipt = QStringLiteral("/Users/fuzz/Library/Receipts/org.fuzz.user.plist");
const QString kUserBill = QStringLiteral("/Users/fuzz/Library/Receipts/org.fuzz.user.bom");
const QString kBundle = QStringLiteral("/Library/Receipts/Fuzz.pkg");

// Answers every alert with its second button ("Continue"): a malformed
// receipt is reported, and no problem report may be composed.
class SilentPresenter : public kestrum::AlertPresenter
{
public:
    kestrum::AlertAnswer present(const kestrum::AlertQuestion &) override { return {1001, {}, false, 0}; }
};

// A bill with a folder, a file whose name ends in a carriage return, and a
// link, as real packages list them.
QByteArray soundBill()
{
    platform::BomWriter writer;
    using Type = platform::BomEntry::Type;
    for (const auto &[path, type] : {std::pair{"Applications/Fuzz.app/Contents/Info.plist", Type::File},
                                     std::pair{"Applications/Fuzz.app/Icon\r", Type::File},
                                     std::pair{"usr/local/bin/fuzz", Type::Link}}) {
        platform::BomEntry entry;
        entry.path = QString::fromLatin1(path);
        entry.type = type;
        if (type == Type::Link)
            entry.linkTarget = QStringLiteral("../../../Applications/Fuzz.app");
        if (!writer.addEntry(entry))
            fail("the bill cannot be written");
    }
    return writer.toByteArray();
}

void write(const QString &logical, const QByteArray &bytes)
{
    const LogicalPath path = platform::volumePath(logical).value();
    QString error;
    if (!Volume::current()->makeFolders(path.parent(), &error) || !Volume::current()->writeFile(path, bytes, &error))
        fail("cannot write the volume:", error);
}

qsizetype g_billPaths = 0;   // the paths the sound bill lists

// The volume, made once; the receipts are rewritten for every input.
const QTemporaryDir &volume()
{
    static const QTemporaryDir dir = [] {
        QTemporaryDir made;
        QString error;
        if (!made.isValid() || !Volume::configure(made.path(), QStringLiteral("/Users/fuzz"), &error))
            fail("cannot make the volume:", error);
        kestrum::setAlertPresenter(std::make_shared<SilentPresenter>());
        // Each run's report would flood the system log; findings show in the fuzzer's output.
        ::setlogmask(LOG_MASK(LOG_EMERG));
        const QByteArray bill = soundBill();
        g_billPaths = platform::BomReader::fromData(bill).count();
        write(kSystemBill, bill);
        write(kUserBill, bill);
        write(kBundle + QLatin1String("/Contents/Archive.bom"), bill);
        return made;
    }();
    return dir;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    volume();
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype split = bytes.indexOf(kSeparator);
    const QByteArray receipt = split < 0 ? bytes : bytes.first(split);
    const QByteArray info = split < 0 ? bytes : bytes.sliced(split + kSeparator.size());
    write(kSystemReceipt, receipt);
    write(kUserReceipt, receipt);
    write(kBundle + QLatin1String("/Contents/Info.plist"), info);

    const QList<PackageRecord> records = PackageHelperNative::getPackages();
    if (records.size() > 3)
        fail("more records than receipts");
    const LogicalPath home = Volume::current()->home();
    for (PackageRecord record : records) {
        const bool legacy = record.isLegacy();
        const QString found = legacy ? record.pkgPath() : record.plistPath();
        if (found != kSystemReceipt && found != kUserReceipt && found != kBundle)
            fail("a record names a receipt that was not written:", found);
        if (record.hasUserPrefix() != (found == kUserReceipt))
            fail("a record's user prefix does not follow where it was found:", found);
        const LogicalPath location = PackageHelperNative::installLocationForPackage(record);
        const std::optional<LogicalPath> again = platform::volumePath(location.toString());
        if (!again || again->toString() != location.toString())
            fail("the install location is not in its clean form:", location.toString());
        if (record.hasUserPrefix() && !location.isWithin(home))
            fail("a user package's location leaves the home folder:", location.toString());
        const QStringList files = PackageHelperNative::getFilesForPackage(record, location);
        if (files.size() != g_billPaths)
            fail("the sound bill does not list its paths for", found);
        for (const QString &file : files) {
            const std::optional<LogicalPath> path = platform::volumePath(file);
            if (!path || !path->isWithin(location))
                fail("a file of the bill lies outside the install location:", file);
        }
    }
    return 0;
}

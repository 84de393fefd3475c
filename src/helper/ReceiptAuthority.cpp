#include "ReceiptAuthority.h"

#include "ToolLog.h"
#include "dorvane/Settings.h"
#include "dorvane/catalogue/CatalogueBuilder.h"
#include "dorvane/planning/SystemLists.h"
#include "dorvane/receipts/ReceiptReader.h"
#include "platform/PropertyList.h"
#include "platform/ReadLimits.h"

namespace helpertool {

namespace {

using dorvane::ReceiptReader;
using platform::LogicalPath;

QList<LogicalPath> receiptFolders(const platform::Volume &volume)
{
    return {volume.top().child(ReceiptReader::kSystemReceipts),
            volume.home().child(QStringView(ReceiptReader::kUserReceipts).mid(2)),
            volume.top().child(ReceiptReader::kLegacyReceipts)};
}

} // namespace

QByteArray ReceiptAuthority::fingerprint() const
{
    const std::shared_ptr<const platform::Volume> volume = platform::Volume::current();
    QByteArray print;
    for (const LogicalPath &folder : receiptFolders(*volume)) {
        const std::optional<platform::ItemStatus> status = volume->status(folder, platform::Follow::Final);
        print += folder.toString().toUtf8() + ':';
        if (status) {
            print += QByteArray::number(status->device) + ',' + QByteArray::number(status->inode) + ','
                     + QByteArray::number(status->changedNSecs) + ',' + QByteArray::number(status->size);
        }
        print += ';';
    }
    return print;
}

std::shared_ptr<const dorvane::Catalogue> ReceiptAuthority::catalogue()
{
    const QByteArray now = fingerprint();
    if (m_catalogue && now == m_fingerprint)
        return m_catalogue;
    const ReceiptReader reader(platform::Volume::current(), [](const dorvane::ReceiptProblem &problem) {
        toolLog(problem.level == dorvane::ReceiptProblem::Warning ? LogWarning : LogError, problem.line);
    });
    std::optional<dorvane::Catalogue> built = dorvane::CatalogueBuilder::build(reader, {}, QString());
    m_catalogue = std::make_shared<const dorvane::Catalogue>(built ? std::move(*built) : dorvane::Catalogue());
    m_fingerprint = now;
    toolLog(LogInfo, QStringLiteral("read the volume's receipts: %1 packages, %2 paths")
                         .arg(m_catalogue->installerPackages.size() + m_catalogue->allPackages.size())
                         .arg(m_catalogue->paths().count()));
    return m_catalogue;
}

QStringList ReceiptAuthority::ignoredFolders() const
{
    QStringList folders = dorvane::SystemLists::fixedIgnoredFolders();
    const std::shared_ptr<const platform::Volume> volume = platform::Volume::current();
    // The application's preferences on the volume, in the served user's home.
    const LogicalPath preferences =
        volume->home().child(QStringLiteral("Library/Preferences/" DORVANE_BUNDLE_IDENTIFIER ".plist"));
    const std::optional<QVariantMap> settings =
        platform::PropertyList::readDictionary(preferences, platform::ReadLimit::kPreferences);
    const QString key = QString::fromLatin1(dorvane::Settings::kIgnoredSystemFolders);
    for (const QVariant &entry : settings.value_or(QVariantMap()).value(key).toList()) {
        if (entry.typeId() == QMetaType::QString)
            folders.append(entry.toString());
    }
    return folders;
}

} // namespace helpertool

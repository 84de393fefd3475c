#include "dorvane/toolclient/DeleteHelper.h"

#include "dorvane/receipts/PackageHelperNative.h"
#include "dorvane/receipts/PackageRecord.h"
#include "helperwire/HelperRequest.h"
#include "kestrum/Feedback.h"
#include "kestrum/Log.h"
#include "platform/ServiceManagement.h"
#include "platform/Volume.h"

#include <QDateTime>

#include <optional>

namespace dorvane {

using kestrum::makeString;
using platform::LogicalPath;

namespace {

const QString DeleteFailed = QStringLiteral("Failed to delete files/folders.");
const QString KillFailed = QStringLiteral("Failed to kill PIDs.");

// The "reply" string of a reply dictionary; nothing for an error or a
// dictionary without one.
std::optional<QString> replyText(const HelperReply &reply)
{
    const auto *message = std::get_if<helperwire::Message>(&reply);
    if (!message || !message->contains(QStringLiteral("reply")))
        return std::nullopt;
    return message->value(QStringLiteral("reply"));
}

// The items that did not go, as "item": "reason" for the reports.
QVariantMap failureMap(const helperwire::Reply &reply)
{
    QVariantMap failures;
    for (const helperwire::ItemOutcome &item : reply.failures())
        failures.insert(item.item, item.reason);
    return failures;
}

// The item's attributes as the application sees them (a final link not
// followed); no value when nothing is there.
QVariant attributesOf(const LogicalPath &path)
{
    const std::optional<platform::ItemStatus> status = platform::Volume::current()->status(path, platform::Follow::NotFinal);
    if (!status)
        return {};
    using Type = platform::ItemStatus::Type;
    const QString type = status->type == Type::File        ? QStringLiteral("NSFileTypeRegular")
                         : status->type == Type::Directory ? QStringLiteral("NSFileTypeDirectory")
                         : status->type == Type::Link      ? QStringLiteral("NSFileTypeSymbolicLink")
                                                           : QStringLiteral("NSFileTypeUnknown");
    return QVariantMap{
        {QStringLiteral("NSFileType"), type},
        {QStringLiteral("NSFileSize"), status->size},
        {QStringLiteral("NSFileModificationDate"), QDateTime::fromMSecsSinceEpoch(status->modifiedMSecs, Qt::UTC)},
        {QStringLiteral("NSFileImmutable"), status->immutable},
        {QStringLiteral("NSFileSystemNumber"), status->device},
        {QStringLiteral("NSFileSystemFileNumber"), status->inode},
    };
}

// One "path: attributes" line per entry of the folder.
QString listing(const LogicalPath &path)
{
    QStringList lines;
    for (const QString &name : platform::Volume::current()->list(path).value_or(QStringList())) {
        const LogicalPath entry = path.child(name);
        lines.append(makeString("%@: %@", entry.toString(), attributesOf(entry)));
    }
    return lines.join(QLatin1Char('\n'));
}

QVariant shownPids(const QList<qint64> &pids)
{
    QVariantList shown;
    for (qint64 pid : pids)
        shown.append(pid);
    return shown;
}

void show(const std::optional<DeleteHelper::Report> &report)
{
    if (report)
        kestrum::alert_feedback(report->message, report->details, report->fatal);
}

} // namespace

DeleteHelper::DeleteHelper() : DeleteHelper(std::make_shared<HelperConnection>()) {}

DeleteHelper::DeleteHelper(std::shared_ptr<HelperConnection> connection) : m_connection(std::move(connection))
{
    if (!m_connection)
        kestrum::alert_feedback_fatal(QStringLiteral("Failed to create XPC connection"), QString());
    // The destructor cancels the connection, which drops the handler, so it
    // never outlives the instance.
    m_connection->setEventHandler([this](ConnectionEvent error) { handleEvent(error); });
}

DeleteHelper::~DeleteHelper()
{
    if (const std::shared_ptr<HelperConnection> connection = this->connection())
        connection->cancel();
    setConnection(nullptr);
}

std::shared_ptr<HelperConnection> DeleteHelper::connection() const
{
    QMutexLocker lock(&m_mutex);
    return m_connection;
}

void DeleteHelper::setConnection(std::shared_ptr<HelperConnection> connection)
{
    QMutexLocker lock(&m_mutex);
    m_connection = std::move(connection);
}

HelperReply DeleteHelper::send(const helperwire::Message &message)
{
    // Held for the whole request, so dropping the field meanwhile is safe.
    const std::shared_ptr<HelperConnection> connection = this->connection();
    if (!connection)
        return ConnectionEvent::Invalid;
    return connection->sendWithReply(message);
}

void DeleteHelper::handleEvent(ConnectionEvent error)
{
    if (error == ConnectionEvent::Interrupted) {
        kestrum::asl_NSLog(kestrum::LogError, QStringLiteral("XPC_ERROR_CONNECTION_INTERRUPTED"));
        kestrum::alert_feedback_nonfatal(QStringLiteral("XPC connection interrupted"),
                                         QStringLiteral("XPC_ERROR_CONNECTION_INTERRUPTED"));
        return;
    }
    setConnection(nullptr);
    kestrum::alert_feedback_fatal(QStringLiteral("XPC connection invalidated"),
                                  makeString("XPC_ERROR_CONNECTION_INVALID: \n\n%@\n\n%@\n\n%@",
                                             listing(helperwire::installedToolPath().parent()),
                                             listing(helperwire::jobPlistPath().parent()),
                                             smjobdata()));
}

std::optional<helperwire::Reply> DeleteHelper::deleteFiles(const QList<LogicalPath> &paths, const QStringList &packages,
                                                         const QString &information)
{
    kestrum::asl_NSLog(kestrum::LogInfo, "Info: deleteFiles: %@", information);
    const HelperReply reply = send(helperwire::withRun(helperwire::deleteMessage(paths, packages), run()));
    show(deleteReport(reply, information));
    const std::optional<QString> text = replyText(reply);
    return text ? helperwire::decodeReply(*text) : std::nullopt;
}

std::optional<DeleteHelper::Report> DeleteHelper::deleteReport(const HelperReply &reply, const QString &information)
{
    const std::optional<QString> text = replyText(reply);
    // A broken connection: the tool died before, during or after the
    // removal. What is still there is for the run's own account to say, and
    // the next request reaches the tool its job started again. A reply
    // without its string is a tool that no longer speaks our language.
    const std::optional<helperwire::Reply> decoded = text ? helperwire::decodeReply(*text) : std::nullopt;
    if (!decoded)
        return Report{DeleteFailed, makeString("got empty response! %@ %@", typeOfEvent(reply), information),
                      !std::holds_alternative<ConnectionEvent>(reply)};
    const QList<helperwire::ItemOutcome> failures = decoded->failures();
    if (failures.isEmpty())
        return std::nullopt;
    // Only the first item is looked at: enough for support to see why.
    const std::optional<LogicalPath> firstPath = platform::volumePath(failures.first().item);
    const QVariant attributes = firstPath ? attributesOf(*firstPath) : QVariant();
    return Report{DeleteFailed,
                  makeString(" response: %@\n\n attributes of first undeletable file: %@\n\n event type: %@\n\n "
                             "dorvane-info: %@",
                             QVariant(failureMap(*decoded)), attributes, typeOfEvent(reply), information)};
}

std::optional<helperwire::Reply> DeleteHelper::deleteFolder(const LogicalPath &folder, const QStringList &packages,
                                                          const QString &information)
{
    kestrum::asl_NSLog(kestrum::LogInfo, "Info: deleteFolder: %@", information);
    const HelperReply reply = send(helperwire::withRun(helperwire::deleteEmptyFolderMessage({folder}, packages), run()));
    show(deleteReport(reply, information));
    const std::optional<QString> text = replyText(reply);
    return text ? helperwire::decodeReply(*text) : std::nullopt;
}

void DeleteHelper::killPIDs(const QList<qint64> &pids, const QStringList &packages, const QString &information)
{
    kestrum::asl_NSLog(kestrum::LogInfo, "Info: killPIDs: %@", shownPids(pids));
    show(killReport(send(helperwire::killMessage(pids, packages)), pids, information));
}

std::optional<DeleteHelper::Report> DeleteHelper::killReport(const HelperReply &reply, const QList<qint64> &pids,
                                                             const QString &information)
{
    const std::optional<QString> text = replyText(reply);
    const std::optional<helperwire::Reply> decoded = text ? helperwire::decodeReply(*text) : std::nullopt;
    if (!decoded) {
        return Report{KillFailed, makeString("got empty response! %@  -  %@  - %@", typeOfEvent(reply),
                                             shownPids(pids), information)};
    }
    // A process that had ended already is "gone": what was wanted.
    if (decoded->failures().isEmpty())
        return std::nullopt;
    return Report{KillFailed, makeString("%@ -  %@  -  %@  -  %@", typeOfEvent(reply), QVariant(failureMap(*decoded)),
                                         shownPids(pids), information)};
}

void DeleteHelper::deletePackage(const PackageRecord &package, const QStringList &packages)
{
    kestrum::asl_NSLog(kestrum::LogInfo, "Info: deletePackage: %@", package.packageIdentifier());
    show(forgetReport(send(helperwire::withRun(helperwire::forgetMessage(package.packageIdentifier(), packages), run())),
                      package));
}

void DeleteHelper::setRun(const QString &run)
{
    QMutexLocker lock(&m_mutex);
    m_run = run;
}

QString DeleteHelper::run() const
{
    QMutexLocker lock(&m_mutex);
    return m_run;
}

std::optional<helperwire::Reply> DeleteHelper::askQuarantine(const helperwire::Message &message, QString *error)
{
    kestrum::asl_NSLog(kestrum::LogInfo, "Info: %@ %@", message.value(QStringLiteral("type")),
                       message.value(QStringLiteral("request")));
    const HelperReply reply = send(message);
    const std::optional<QString> text = replyText(reply);
    std::optional<helperwire::Reply> decoded = text ? helperwire::decodeReply(*text) : std::nullopt;
    if (!decoded)
        *error = makeString("the helper tool gave no answer (%@)", typeOfEvent(reply));
    return decoded;
}

std::optional<DeleteHelper::Report> DeleteHelper::forgetReport(const HelperReply &reply, const PackageRecord &package)
{
    const std::optional<QString> text = replyText(reply);
    const std::optional<helperwire::Reply> decoded = text ? helperwire::decodeReply(*text) : std::nullopt;
    // Forgotten: every receipt file the tool found went, and it found one.
    if (decoded && !decoded->items.isEmpty() && decoded->failures().isEmpty())
        return std::nullopt;
    // A receipt left behind would show the package again after the
    // uninstall, so the run cannot go on.
    const QStringList receipts =
        platform::Volume::current()->list(platform::Volume::current()->top().child(PackageHelperNative::kSystemReceipts))
            .value_or(QStringList());
    const QString said = decoded ? kestrum::describe(failureMap(*decoded)) : text.value_or(QString());
    return Report{QStringLiteral("Failed to forget package."),
                  makeString("%@\n%@\n%@ %@", said, receipts.join(QStringLiteral(", ")), package.description(),
                             typeOfEvent(reply)),
                  true};
}

QString DeleteHelper::typeOfEvent(const HelperReply &reply)
{
    if (std::holds_alternative<helperwire::Message>(reply))
        return QStringLiteral("XPC_TYPE_DICTIONARY");
    return std::get<ConnectionEvent>(reply) == ConnectionEvent::Invalid
               ? QStringLiteral("XPC_TYPE_ERROR:XPC_ERROR_CONNECTION_INVALID")
               : QStringLiteral("XPC_TYPE_ERROR");
}

QString DeleteHelper::smjobdata() const
{
    const QString label = helperwire::helperLabel();
    QVariant listed;
    for (const QVariantMap &job : platform::ServiceManagement::copyAllJobDictionaries()) {
        if (job.value(QStringLiteral("Label")).toString() == label) {
            listed = job;
            break;
        }
    }
    const std::optional<QVariantMap> looked = platform::ServiceManagement::copyJobDictionary(label);
    return makeString("%@\n_\n%@", listed, looked ? QVariant(*looked) : QVariant());
}

} // namespace dorvane

#pragma once

#include "helperwire/Frame.h"
#include "platform/LogicalPath.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>
#include <variant>

namespace helperwire {

// What the helper tool does for the application, and nothing else: remove
// paths, remove folders that are empty, terminate processes, forget a
// receipt; and give back, or empty for good, what a run left in the
// quarantine. Every request of an uninstall names the packages being
// uninstalled ("packages", their identifiers): the tool accepts only what
// those packages' receipts on the volume justify. A removal that names a
// run ("run") moves what goes into that run's quarantine instead of
// removing it. The quarantine's requests name only a run ("request"): the
// tool restores and empties only runs it recorded itself. The form rules a
// request must pass live here, for the client that builds it and the tool
// alike; what the receipts justify is the tool's own check
// (dorvane::RemovalRules).
enum class RequestType { Delete, DeleteEmptyFolder, Kill, Forget, Restore, EmptyQuarantine, ListQuarantine };

// The highest process identifier the system hands out (Linux's limit; the
// Mac's is lower), so a larger number names no process.
inline constexpr qint64 MaxPid = 4194304;

struct HelperRequest
{
    RequestType type = RequestType::Forget;
    QList<platform::LogicalPath> paths;  // delete: the accepted paths
    QList<qint64> pids;                  // kill: the accepted processes
    QString identifier;                  // forget: the receipt's identifier
    // The run whose quarantine keeps what goes (delete, deleteEmptyFolder,
    // forget; none removes for good), or the run a quarantine request is
    // about (none lists every run).
    QString run;
    QStringList packages;                // the packages being uninstalled, whom the request is for
    // delete, kill: each accepted item as sent, beside paths or pids, so a
    // reply can name it exactly as the client wrote it.
    QStringList sent;
    // Items of a delete or kill that broke a rule, as sent, with the reason;
    // the others of the same request are still carried out.
    QMap<QString, QString> refused;
};

// Either the typed request or why the message as a whole is refused.
using ParseResult = std::variant<HelperRequest, QString>;

ParseResult parseRequest(const Message &message);

Message deleteMessage(const QList<platform::LogicalPath> &paths, const QStringList &packages);
// Removes each folder only when it is empty, or holds nothing but a
// ".DS_Store" or "Icon\r" regular file, at the moment of removal.
Message deleteEmptyFolderMessage(const QList<platform::LogicalPath> &folders, const QStringList &packages);
Message killMessage(const QList<qint64> &pids, const QStringList &packages);
Message forgetMessage(const QString &identifier, const QStringList &packages);
// The same removals, kept in the run's quarantine.
Message withRun(Message message, const QString &run);

Message restoreMessage(const QString &run);
Message emptyQuarantineMessage(const QString &run);
// Every run (an empty run), or one run with the paths it holds.
Message listQuarantineMessage(const QString &run = QString());

// A run's identifier: the time it began and six random characters,
// "20261207-145531-k3v9qz", so runs sort by age and never collide.
QString newRunId();
QString runIdRefusal(const QString &run);

inline constexpr qsizetype MaxPackages = 10000;

// Why each rule would refuse the item, or an empty text when it is fine.
// A path that passes is made into *made once, for the caller to keep.
QString pathRefusal(const QString &path, std::optional<platform::LogicalPath> *made = nullptr);
QString pidRefusal(const QString &pid);
QString identifierRefusal(const QString &identifier);

} // namespace helperwire

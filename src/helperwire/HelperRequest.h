#pragma once

#include "helperwire/Frame.h"
#include "platform/LogicalPath.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <variant>

namespace helperwire {

// The three things the helper tool does for the application, and nothing
// else: remove paths, terminate processes, forget a receipt. Every rule a
// request must pass lives here, for the client that builds it and the tool
// that carries it out alike.
enum class RequestType { Delete, Kill, Forget };

// The highest process identifier the system hands out (Linux's limit; the
// Mac's is lower), so a larger number names no process.
inline constexpr qint64 MaxPid = 4194304;

struct HelperRequest
{
    RequestType type = RequestType::Forget;
    QList<platform::LogicalPath> paths;  // delete: the accepted paths
    QList<qint64> pids;                  // kill: the accepted processes
    QString identifier;                  // forget: the receipt's identifier
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

Message deleteMessage(const QList<platform::LogicalPath> &paths);
Message killMessage(const QList<qint64> &pids);
Message forgetMessage(const QString &identifier);

// Why each rule would refuse the item, or an empty text when it is fine.
QString pathRefusal(const QString &path);
QString pidRefusal(const QString &pid);
QString identifierRefusal(const QString &identifier);

} // namespace helperwire

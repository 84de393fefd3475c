#include "platform/SystemLog.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>

#include <mutex>
#include <syslog.h>

namespace platform::SystemLog {

namespace {

// openlog() keeps the pointer it is given, so the identifier must outlive it.
std::mutex g_mutex;
QByteArray g_identifier;

// The newest entries searched; a long-lived journal holds millions.
constexpr int kSearchedEntries = 20000;

} // namespace

void write(int level, const QString &identifier, const QString &message)
{
    std::lock_guard lock(g_mutex);
    const QByteArray ident = identifier.toUtf8();
    if (ident != g_identifier) {
        g_identifier = ident;
        ::openlog(g_identifier.constData(), LOG_PID, LOG_USER);
    }
    ::syslog(level & 7, "%s", message.toUtf8().constData());
}

std::optional<QStringList> messagesFromSender(const QString &sender)
{
    if (sender.isEmpty())
        return std::nullopt;
    QStringList result;
    const QString journalctl = QStandardPaths::findExecutable(QStringLiteral("journalctl"));
    if (journalctl.isEmpty())
        return result;

    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(journalctl, {QStringLiteral("--no-pager"), QStringLiteral("--quiet"),
                               QStringLiteral("--output=json"),
                               QStringLiteral("--lines=%1").arg(kSearchedEntries),
                               QStringLiteral("--output-fields=SYSLOG_IDENTIFIER,MESSAGE")});
    if (!process.waitForFinished(30000))
        return result;
    const QList<QByteArray> lines = process.readAllStandardOutput().split('\n');
    for (const QByteArray &line : lines) {
        const QJsonObject entry = QJsonDocument::fromJson(line).object();
        if (entry.value(QLatin1String("SYSLOG_IDENTIFIER")).toString().contains(sender, Qt::CaseInsensitive))
            result.append(entry.value(QLatin1String("MESSAGE")).toString());
    }
    return result;
}

} // namespace platform::SystemLog

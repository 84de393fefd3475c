#include "helperwire/HelperRequest.h"

#include "platform/NameFolding.h"
#include "platform/Volume.h"

#include <QDateTime>
#include <QJsonArray>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QJsonDocument>
#include <QSet>

namespace helperwire {

namespace {

const QString TypeKey = QStringLiteral("type");
const QString RequestKey = QStringLiteral("request");
const QString PackagesKey = QStringLiteral("packages");
const QString RunKey = QStringLiteral("run");

constexpr qsizetype MaxPathBytes = 4096;
constexpr qsizetype MaxIdentifierBytes = 255;

// The folders whose loss breaks the volume: never removed, whoever asks.
// Compared by their folded form, as the Mac's volumes compare names.
const QSet<QString> &deniedKeys()
{
    static const QSet<QString> keys = [] {
        QSet<QString> out;
        for (const char *path : {"/", "/System", "/Library", "/Applications", "/Users", "/private", "/usr", "/bin",
                                 "/sbin", "/etc", "/var", "/tmp", "/dev", "/opt", "/Volumes", "/cores",
                                 "/private/etc", "/private/var", "/private/tmp"})
            out.insert(platform::foldedName(QString::fromLatin1(path)));
        return out;
    }();
    return keys;
}

bool isDenied(const QString &key)
{
    if (deniedKeys().contains(key))
        return true;
    // A home folder and its Library: "/Users/<name>" and "/Users/<name>/Library".
    const QList<QStringView> parts = QStringView(key).split(QLatin1Char('/'));
    return parts.size() >= 3 && parts.size() <= 4 && parts[1] == u"users"
           && (parts.size() == 3 || parts[3] == u"library");
}

bool hasControl(const QString &text)
{
    for (QChar c : text)
        if (c.category() == QChar::Other_Control)   // NUL, C0, DEL and C1
            return true;
    return false;
}

// The strings of a JSON array, or nothing when the text is anything else.
std::optional<QStringList> stringArray(const QString &json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    QStringList strings;
    for (const QJsonValue &value : document.array()) {
        if (!value.isString())
            return std::nullopt;
        strings.append(value.toString());
    }
    return strings;
}

QString compactArray(const QStringList &strings)
{
    return QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(strings)).toJson(QJsonDocument::Compact));
}

} // namespace

QString pathRefusal(const QString &path, std::optional<platform::LogicalPath> *made)
{
    if (!path.startsWith(QLatin1Char('/')))
        return QStringLiteral("not an absolute path");
    if (path.toUtf8().size() > MaxPathBytes)
        return QStringLiteral("longer than %1 bytes").arg(MaxPathBytes);
    // Any other character is a Mac file name's right, "Icon\r" the most
    // common; the tool's log escapes them.
    if (path.contains(QChar(0)))
        return QStringLiteral("holds a NUL character");
    if (path.size() > 1) {
        for (QStringView part : QStringView(path).sliced(1).split(QLatin1Char('/'))) {
            if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String(".."))
                return QStringLiteral("has an empty, \".\" or \"..\" component");
        }
    }
    // Whatever sits at the top of the volume holds the system or everybody's
    // things, whether or not the deny list names it.
    if (path.size() > 1 && path.indexOf(QLatin1Char('/'), 1) < 0)
        return QStringLiteral("an item at the top of the volume");
    // Checked in both spellings, so "/etc" and "/private/etc" are one folder,
    // and in any case or Unicode form the volume takes for the same name.
    const std::optional<platform::LogicalPath> cleaned = platform::volumePath(path);
    if (!cleaned)
        return QStringLiteral("names no path");
    if (isDenied(platform::foldedName(path)) || isDenied(cleaned->key()))
        return QStringLiteral("a protected system folder");
    if (made)
        *made = cleaned;
    return {};
}

QString pidRefusal(const QString &pid)
{
    if (pid.isEmpty())
        return QStringLiteral("empty process identifier");
    for (QChar c : pid)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return QStringLiteral("not decimal digits");
    if (pid.startsWith(QLatin1Char('0')))
        return QStringLiteral("process 0 or a leading zero");
    if (pid.size() > 7 || pid.toLongLong() > MaxPid)
        return QStringLiteral("over the process identifier range");
    if (pid == QLatin1String("1"))
        return QStringLiteral("the system's first process");
    return {};
}

QString identifierRefusal(const QString &identifier)
{
    if (identifier.isEmpty())
        return QStringLiteral("empty identifier");
    if (identifier.toUtf8().size() > MaxIdentifierBytes)
        return QStringLiteral("longer than %1 bytes").arg(MaxIdentifierBytes);
    if (identifier == QLatin1String(".") || identifier == QLatin1String(".."))
        return QStringLiteral("\".\" or \"..\" is not a name");
    if (identifier.contains(QLatin1Char('/')) || hasControl(identifier))
        return QStringLiteral("holds a \"/\", NUL or control character");
    return {};
}

ParseResult parseRequest(const Message &message)
{
    const QString type = message.value(TypeKey);
    const QString argument = message.value(RequestKey);
    HelperRequest request;
    static const QMap<QString, RequestType> quarantineTypes{{QStringLiteral("restore"), RequestType::Restore},
                                                            {QStringLiteral("emptyQuarantine"), RequestType::EmptyQuarantine},
                                                            {QStringLiteral("listQuarantine"), RequestType::ListQuarantine}};
    if (const auto quarantine = quarantineTypes.constFind(type); quarantine != quarantineTypes.cend()) {
        if (message.size() != 2 || !message.contains(RequestKey))
            return QStringLiteral("%1: a quarantine request holds exactly the keys \"type\" and \"request\"").arg(type);
        const bool any = *quarantine == RequestType::ListQuarantine && argument.isEmpty();
        if (const QString why = any ? QString() : runIdRefusal(argument); !why.isEmpty())
            return QStringLiteral("%1: the run \"%2\" %3").arg(type, argument, why);
        request.type = *quarantine;
        request.run = argument;
        return request;
    }
    const bool withRun = message.size() == 4 && message.contains(RunKey);
    if ((message.size() != 3 && !withRun) || !message.contains(TypeKey) || !message.contains(RequestKey)
        || !message.contains(PackagesKey))
        return QStringLiteral("a request holds exactly the keys \"type\", \"request\" and \"packages\", and "
                              "\"run\" for a removal kept in the quarantine");
    if (withRun) {
        if (type == QLatin1String("kill"))
            return QStringLiteral("kill: a process is ended, never kept: \"run\" has no place here");
        if (const QString why = runIdRefusal(message.value(RunKey)); !why.isEmpty())
            return QStringLiteral("%1: the run \"%2\" %3").arg(type, message.value(RunKey), why);
        request.run = message.value(RunKey);
    }
    const std::optional<QStringList> packages = stringArray(message.value(PackagesKey));
    if (!packages || packages->isEmpty() || packages->size() > MaxPackages)
        return QStringLiteral("%1: \"packages\" is no JSON array of one to %2 identifiers").arg(type).arg(MaxPackages);
    for (const QString &package : *packages) {
        if (const QString why = identifierRefusal(package); !why.isEmpty())
            return QStringLiteral("%1: the package \"%2\" %3").arg(type, package, why);
    }
    request.packages = *packages;
    if (type == QLatin1String("forget")) {
        if (const QString why = identifierRefusal(argument); !why.isEmpty())
            return QStringLiteral("forget: %1").arg(why);
        request.type = RequestType::Forget;
        request.identifier = argument;
        return request;
    }
    const bool isDelete = type == QLatin1String("delete") || type == QLatin1String("deleteEmptyFolder");
    if (!isDelete && type != QLatin1String("kill"))
        return QStringLiteral("unknown request type \"%1\"").arg(type);
    const std::optional<QStringList> items = stringArray(argument);
    if (!items)
        return QStringLiteral("%1: the request is not a JSON array of strings").arg(type);
    request.sent.reserve(items->size());
    (isDelete ? request.paths.reserve(items->size()) : request.pids.reserve(items->size()));
    request.type = !isDelete ? RequestType::Kill
                   : type == QLatin1String("delete") ? RequestType::Delete
                                                     : RequestType::DeleteEmptyFolder;
    for (const QString &item : *items) {
        std::optional<platform::LogicalPath> path;
        const QString why = isDelete ? pathRefusal(item, &path) : pidRefusal(item);
        if (!why.isEmpty()) {
            request.refused.insert(item, why);
            continue;
        }
        request.sent.append(item);
        if (isDelete)
            request.paths.append(std::move(*path));
        else
            request.pids.append(item.toLongLong());
    }
    return request;
}

Message deleteMessage(const QList<platform::LogicalPath> &paths, const QStringList &packages)
{
    return {{TypeKey, QStringLiteral("delete")},
            {RequestKey, compactArray(platform::toStrings(paths))},
            {PackagesKey, compactArray(packages)}};
}

Message deleteEmptyFolderMessage(const QList<platform::LogicalPath> &folders, const QStringList &packages)
{
    return {{TypeKey, QStringLiteral("deleteEmptyFolder")},
            {RequestKey, compactArray(platform::toStrings(folders))},
            {PackagesKey, compactArray(packages)}};
}

Message killMessage(const QList<qint64> &pids, const QStringList &packages)
{
    QStringList texts;
    for (qint64 pid : pids)
        texts.append(QString::number(pid));
    return {{TypeKey, QStringLiteral("kill")}, {RequestKey, compactArray(texts)}, {PackagesKey, compactArray(packages)}};
}

Message forgetMessage(const QString &identifier, const QStringList &packages)
{
    return {{TypeKey, QStringLiteral("forget")}, {RequestKey, identifier}, {PackagesKey, compactArray(packages)}};
}

Message withRun(Message message, const QString &run)
{
    if (!run.isEmpty())
        message.insert(RunKey, run);
    return message;
}

Message restoreMessage(const QString &run)
{
    return {{TypeKey, QStringLiteral("restore")}, {RequestKey, run}};
}

Message emptyQuarantineMessage(const QString &run)
{
    return {{TypeKey, QStringLiteral("emptyQuarantine")}, {RequestKey, run}};
}

Message listQuarantineMessage(const QString &run)
{
    return {{TypeKey, QStringLiteral("listQuarantine")}, {RequestKey, run}};
}

QString newRunId()
{
    static const char kAlphabet[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    QString suffix;
    for (int i = 0; i < 6; ++i)
        suffix += QLatin1Char(kAlphabet[QRandomGenerator::global()->bounded(36)]);
    return QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss-")) + suffix;
}

QString runIdRefusal(const QString &run)
{
    // The form is all a run's name may be: it names a folder of the
    // quarantine and nothing else, never a path.
    static const QRegularExpression form(QStringLiteral("^[0-9]{8}-[0-9]{6}-[0-9a-z]{6}$"));
    if (!form.match(run).hasMatch())
        return QStringLiteral("is not a run's identifier (\"yyyyMMdd-HHmmss-\" and six letters or digits)");
    return {};
}

} // namespace helperwire

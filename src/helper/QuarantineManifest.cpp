#include "Quarantine.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace helpertool {

namespace {

using Type = platform::ItemStatus::Type;

const char *const kTypeNames[] = {"file", "folder", "link", "other"};   // by Type
const char *const kKindNames[] = {"item", "folder", "receipt"};          // by QuarantineRecord::Kind

// A JSON string, written by hand: a package's hundred thousand records are
// written while the user waits.
void appendJsonString(QByteArray &out, const QString &text)
{
    out += '"';
    for (const char c : text.toUtf8()) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            static const char hex[] = "0123456789abcdef";
            out += "\\u00";
            out += hex[u >> 4];
            out += hex[u & 15];
        } else {
            out += c;
        }
    }
    out += '"';
}

template<typename Array>
int indexOfName(const Array &names, const QString &name)
{
    const auto found = std::find_if(std::begin(names), std::end(names),
                                    [&](const char *candidate) { return name == QLatin1String(candidate); });
    return found == std::end(names) ? -1 : int(found - std::begin(names));
}

} // namespace

// --- the manifest ---

QByteArray QuarantineManifest::headerLine(const QString &run, const QDateTime &created, const QStringList &packages)
{
    const QJsonObject header{{QStringLiteral("run"), run},
                             {QStringLiteral("created"), created.toUTC().toString(Qt::ISODate)},
                             {QStringLiteral("packages"), QJsonArray::fromStringList(packages)}};
    return QJsonDocument(header).toJson(QJsonDocument::Compact) + '\n';
}

QByteArray QuarantineManifest::recordLine(const QuarantineRecord &record)
{
    QByteArray line;
    line.reserve(160 + record.path.size());
    line += "{\"kind\":\"";
    line += kKindNames[int(record.kind)];
    line += "\",\"n\":";
    appendJsonString(line, record.number);
    line += ",\"path\":";
    appendJsonString(line, record.path);
    line += ",\"type\":\"";
    line += kTypeNames[int(record.type)];
    line += "\",\"mode\":" + QByteArray::number(record.mode) + ",\"owner\":" + QByteArray::number(record.owner)
            + ",\"group\":" + QByteArray::number(record.group) + ",\"bytes\":" + QByteArray::number(record.bytes)
            + ",\"inode\":" + QByteArray::number(record.inode);
    if (record.entries > 0)
        line += ",\"entries\":" + QByteArray::number(record.entries);
    return line + "}\n";
}

QByteArray QuarantineManifest::forGoodLine(const QString &number)
{
    QByteArray line = "{\"forGood\":";
    appendJsonString(line, number);
    return line + "}\n";
}

std::optional<QuarantineManifest> QuarantineManifest::parse(const QByteArray &text)
{
    QuarantineManifest manifest;
    QHash<QString, qsizetype> byNumber;
    bool first = true;
    for (const QByteArray &line : text.split('\n')) {
        if (line.isEmpty())
            continue;
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        if (first) {
            first = false;
            manifest.run = object.value(u"run").toString();
            manifest.created = QDateTime::fromString(object.value(u"created").toString(), Qt::ISODate);
            for (const QJsonValue &package : object.value(u"packages").toArray())
                manifest.packages.append(package.toString());
            if (manifest.run.isEmpty() || !manifest.created.isValid())
                return std::nullopt;
            continue;
        }
        // A line cut short by a run killed while it wrote parses as nothing.
        if (object.contains(u"forGood")) {
            if (const auto found = byNumber.constFind(object.value(u"forGood").toString()); found != byNumber.cend())
                manifest.records[*found].forGood = true;
            continue;
        }
        QuarantineRecord record;
        const int kind = indexOfName(kKindNames, object.value(u"kind").toString());
        const int type = indexOfName(kTypeNames, object.value(u"type").toString());
        record.path = object.value(u"path").toString();
        if (kind < 0 || type < 0 || record.path.isEmpty())
            continue;
        record.kind = QuarantineRecord::Kind(kind);
        record.type = Type(type);
        record.number = object.value(u"n").toString();
        record.mode = unsigned(object.value(u"mode").toInteger());
        record.owner = quint32(object.value(u"owner").toInteger());
        record.group = quint32(object.value(u"group").toInteger());
        record.bytes = quint64(object.value(u"bytes").toInteger());
        record.inode = quint64(object.value(u"inode").toInteger());
        record.entries = object.value(u"entries").toInteger();
        if (!record.number.isEmpty())
            byNumber.insert(record.number, manifest.records.size());
        manifest.records.append(record);
    }
    if (first)
        return std::nullopt;
    return manifest;
}
} // namespace helpertool

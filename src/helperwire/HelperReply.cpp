#include "helperwire/HelperReply.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <iterator>

namespace helperwire {

namespace {

using Kind = ItemOutcome::Kind;

constexpr char kLetters[] = {'r', 'g', 'x', 'f', 'd'};   // by Kind

} // namespace

QList<ItemOutcome> Reply::failures() const
{
    QList<ItemOutcome> out;
    for (const ItemOutcome &item : items) {
        if (!item.wentOrGone())
            out.append(item);
    }
    return out;
}

QStringList Reply::removedForGood() const
{
    QStringList out;
    for (const ItemOutcome &item : items) {
        if (item.kind == ItemOutcome::Kind::RemovedForGood)
            out.append(item.item);
    }
    return out;
}

QString encodeReply(const Reply &reply)
{
    QByteArray outcomes;
    outcomes.reserve(reply.items.size());
    QJsonArray failures;
    for (const ItemOutcome &item : reply.items) {
        outcomes += kLetters[int(item.kind)];
        if (!item.hasDetails())
            continue;
        QJsonObject failure{{QStringLiteral("item"), item.item}, {QStringLiteral("reason"), item.reason}};
        if (item.error != 0)
            failure.insert(QStringLiteral("errno"), item.error);
        failures.append(failure);
    }
    QJsonObject object{{QStringLiteral("outcomes"), QString::fromLatin1(outcomes)}, {QStringLiteral("failures"), failures}};
    if (!reply.text.isEmpty())
        object.insert(QStringLiteral("text"), reply.text);
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

std::optional<Reply> decodeReply(QStringView text)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    const QJsonValue outcomes = object.value(QStringLiteral("outcomes"));
    const QJsonValue failures = object.value(QStringLiteral("failures"));
    const QJsonValue sentence = object.value(QStringLiteral("text"));
    if (!outcomes.isString() || !failures.isArray() || !(sentence.isUndefined() || sentence.isString()))
        return std::nullopt;
    const QJsonArray details = failures.toArray();
    Reply reply;
    reply.text = sentence.toString();
    qsizetype next = 0;
    for (const QChar letter : outcomes.toString()) {
        const char *found = std::find(std::begin(kLetters), std::end(kLetters), letter.toLatin1());
        if (letter.unicode() > 0x7f || found == std::end(kLetters))
            return std::nullopt;
        ItemOutcome item;
        item.kind = Kind(found - std::begin(kLetters));
        if (item.hasDetails()) {
            // Each item that did not go, or went for good, has its details, in order.
            if (next >= details.size())
                return std::nullopt;
            const QJsonObject detail = details.at(next++).toObject();
            const QJsonValue name = detail.value(QStringLiteral("item"));
            const QJsonValue reason = detail.value(QStringLiteral("reason"));
            const QJsonValue number = detail.value(QStringLiteral("errno"));
            if (!name.isString() || !reason.isString() || !(number.isUndefined() || number.isDouble()))
                return std::nullopt;
            item.item = name.toString();
            item.reason = reason.toString();
            item.error = number.toInt();
        }
        reply.items.append(item);
    }
    if (next != details.size())
        return std::nullopt;
    return reply;
}

QString forgotText(const QString &identifier)
{
    return QStringLiteral("Forgot package '%1' on '/'.").arg(identifier);
}

} // namespace helperwire

#include "helperwire/HelperReply.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace helperwire {

namespace {

using Kind = ItemOutcome::Kind;

const std::pair<Kind, QLatin1String> kOutcomeNames[] = {
    {Kind::Removed, QLatin1String("removed")},
    {Kind::Gone, QLatin1String("gone")},
    {Kind::Refused, QLatin1String("refused")},
    {Kind::Failed, QLatin1String("failed")},
};

QLatin1String nameOf(Kind kind)
{
    for (const auto &[known, name] : kOutcomeNames) {
        if (known == kind)
            return name;
    }
    return QLatin1String("failed");
}

std::optional<Kind> kindNamed(const QString &name)
{
    for (const auto &[kind, known] : kOutcomeNames) {
        if (known == name)
            return kind;
    }
    return std::nullopt;
}

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

QString encodeReply(const Reply &reply)
{
    QJsonArray items;
    for (const ItemOutcome &item : reply.items) {
        QJsonObject object{{QStringLiteral("item"), item.item}, {QStringLiteral("outcome"), nameOf(item.kind)}};
        if (!item.reason.isEmpty())
            object.insert(QStringLiteral("reason"), item.reason);
        if (item.error != 0)
            object.insert(QStringLiteral("errno"), item.error);
        items.append(object);
    }
    QJsonObject object{{QStringLiteral("items"), items}};
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
    const QJsonValue items = object.value(QStringLiteral("items"));
    const QJsonValue sentence = object.value(QStringLiteral("text"));
    if (!items.isArray() || !(sentence.isUndefined() || sentence.isString()))
        return std::nullopt;
    Reply reply;
    reply.text = sentence.toString();
    for (const QJsonValue &value : items.toArray()) {
        const QJsonObject entry = value.toObject();
        const QJsonValue item = entry.value(QStringLiteral("item"));
        const std::optional<Kind> kind = kindNamed(entry.value(QStringLiteral("outcome")).toString());
        const QJsonValue reason = entry.value(QStringLiteral("reason"));
        const QJsonValue number = entry.value(QStringLiteral("errno"));
        if (!value.isObject() || !item.isString() || !kind || !(reason.isUndefined() || reason.isString())
            || !(number.isUndefined() || number.isDouble()))
            return std::nullopt;
        reply.items.append({item.toString(), *kind, reason.toString(), number.toInt()});
    }
    return reply;
}

QString forgotText(const QString &identifier)
{
    return QStringLiteral("Forgot package '%1' on '/'.").arg(identifier);
}

} // namespace helperwire

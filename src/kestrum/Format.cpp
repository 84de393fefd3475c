#include "kestrum/Format.h"

#include <QDateTime>

#include <cstdio>
#include <cstring>

namespace kestrum {

namespace {

QString describeIndented(const QVariant &value, int depth)
{
    const QString indent(depth * 4, QLatin1Char(' '));
    const QString inner((depth + 1) * 4, QLatin1Char(' '));
    switch (value.typeId()) {
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        const QVariantList list = value.toList();
        if (list.isEmpty())
            return QStringLiteral("(\n%1)").arg(indent);
        QStringList items;
        for (const QVariant &item : list)
            items.append(inner + describeIndented(item, depth + 1));
        return QStringLiteral("(\n%1\n%2)").arg(items.join(QStringLiteral(",\n")), indent);
    }
    case QMetaType::QVariantMap: {
        const QVariantMap map = value.toMap();
        QString out = QStringLiteral("{\n");
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            out += QStringLiteral("%1%2 = %3;\n").arg(inner, it.key(), describeIndented(it.value(), depth + 1));
        return out + indent + QLatin1Char('}');
    }
    case QMetaType::QDateTime:
        return value.toDateTime().toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss +0000"));
    case QMetaType::QByteArray:
        return QStringLiteral("{length = %1, bytes = 0x%2}")
            .arg(value.toByteArray().size())
            .arg(QString::fromLatin1(value.toByteArray().left(32).toHex()));
    case QMetaType::Double:
    case QMetaType::Float:
        return QString::number(value.toDouble(), 'g', 17);
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    default:
        if (!value.isValid())
            return QStringLiteral("(null)");
        return value.toString();
    }
}

bool isLengthModifier(char c)
{
    return c == 'h' || c == 'l' || c == 'q' || c == 'L' || c == 'z' || c == 't' || c == 'j';
}

} // namespace

QString describe(const QVariant &value)
{
    return describeIndented(value, 0);
}

QString formatString(const char *format, std::initializer_list<FormatArg> args)
{
    QString out;
    if (!format)
        return out;
    auto next = args.begin();
    auto take = [&]() -> QVariant {
        if (next == args.end())
            return QVariant();
        return (next++)->value();
    };

    const char *p = format;
    const char *literal = p;
    while (*p) {
        if (*p != '%') {
            ++p;
            continue;
        }
        out += QString::fromUtf8(literal, p - literal);
        const char *item = p++;
        if (*p == '%') {
            out += QLatin1Char('%');
            literal = ++p;
            continue;
        }
        // flags, width, precision
        while (*p && std::strchr("-+ #0", *p))
            ++p;
        while (*p >= '0' && *p <= '9')
            ++p;
        if (*p == '.') {
            ++p;
            while (*p >= '0' && *p <= '9')
                ++p;
        }
        const char *lengthStart = p;
        while (*p && isLengthModifier(*p))
            ++p;
        const char conversion = *p;
        if (!conversion) {
            literal = p;
            break;
        }
        ++p;
        literal = p;

        // The printf directive without its length modifier; the value is
        // passed at full width with a modifier of our own.
        const QByteArray head(item, int(lengthStart - item));
        const QVariant value = take();
        char buffer[512];
        switch (conversion) {
        case '@':
            out += describe(value);
            break;
        case 's':
        case 'S': {
            const QByteArray text = value.toString().toUtf8();
            std::snprintf(buffer, sizeof buffer, (head + "s").constData(), text.constData());
            out += QString::fromUtf8(buffer);
            break;
        }
        case 'd':
        case 'i':
        case 'c':
            if (conversion == 'c') {
                out += QChar(char16_t(value.toLongLong()));
            } else {
                std::snprintf(buffer, sizeof buffer, (head + "lld").constData(), value.toLongLong());
                out += QString::fromLatin1(buffer);
            }
            break;
        case 'u':
        case 'x':
        case 'X':
        case 'o': {
            const quint64 n = value.typeId() == QMetaType::Double ? quint64(value.toDouble())
                                                                   : value.toULongLong();
            std::snprintf(buffer, sizeof buffer, (head + "ll" + conversion).constData(),
                          static_cast<unsigned long long>(n));
            out += QString::fromLatin1(buffer);
            break;
        }
        case 'f':
        case 'F':
        case 'e':
        case 'E':
        case 'g':
        case 'G':
            std::snprintf(buffer, sizeof buffer, (head + conversion).constData(), value.toDouble());
            out += QString::fromLatin1(buffer);
            break;
        case 'p':
            std::snprintf(buffer, sizeof buffer, "0x%llx", static_cast<unsigned long long>(value.toULongLong()));
            out += QString::fromLatin1(buffer);
            break;
        default:
            // Not a conversion: keep the text as written.
            out += QString::fromUtf8(item, int(p - item));
            break;
        }
    }
    out += QString::fromUtf8(literal);
    return out;
}

QString makeDescription(const QVariantMap &object, const QStringList &keys)
{
    QString out;
    for (const QString &key : keys)
        out += QStringLiteral("\n%1: %2").arg(key, describe(object.value(key)));
    return out;
}

} // namespace kestrum

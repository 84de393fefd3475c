#include "platform/plist/PlistReaders.h"

#include <QDateTime>
#include <QXmlStreamReader>

namespace platform::plist {

namespace {

// QXmlStreamReader keeps no recursion of its own and refuses malformed XML,
// undeclared entities and runaway entity expansion; this class adds the
// property-list grammar on top, with a bounded recursion.
class XmlReader
{
public:
    explicit XmlReader(const QByteArray &data)
        : m_xml(data)
    {
    }

    QVariant read(QString *error);

private:
    QVariant value(int depth);
    QVariant dictionary(int depth);
    QVariant array(int depth);
    QVariant integer(const QString &text);
    QVariant real(const QString &text);
    QVariant data(const QString &text);
    // Moves to the next child element of the current one; false at its end.
    bool nextChild() { return m_error.isEmpty() && m_xml.readNextStartElement(); }
    // The current element's text, which may not hold elements itself.
    QString text();
    QVariant fail(const QString &message);

    QXmlStreamReader m_xml;
    qint64 m_values = 0;
    QString m_error;
};

QVariant XmlReader::fail(const QString &message)
{
    if (m_error.isEmpty())
        m_error = QStringLiteral("XML property list, line %1: %2").arg(m_xml.lineNumber()).arg(message);
    return {};
}

QVariant XmlReader::read(QString *error)
{
    QVariant result;
    if (!m_xml.readNextStartElement()) {
        fail(m_xml.hasError() ? m_xml.errorString() : QStringLiteral("no element"));
    } else if (m_xml.name() != QLatin1String("plist")) {
        result = value(0); // a bare value, as some old writers left it
    } else if (!nextChild()) {
        fail(QStringLiteral("<plist> holds no value"));
    } else {
        result = value(0);
        if (nextChild())
            fail(QStringLiteral("<plist> holds more than one value"));
    }
    // Read to the end, so that a damaged tail counts too.
    while (m_error.isEmpty() && !m_xml.atEnd())
        m_xml.readNext();
    if (m_xml.hasError())
        fail(m_xml.errorString());
    if (!m_error.isEmpty()) {
        *error = m_error;
        return {};
    }
    return result;
}

QString XmlReader::text()
{
    const QString text = m_xml.readElementText(QXmlStreamReader::ErrorOnUnexpectedElement);
    if (m_xml.hasError())
        fail(m_xml.errorString());
    else if (text.contains(QChar(0)))
        fail(QStringLiteral("text holds a NUL character"));
    else if (!QStringView(text).isValidUtf16())
        fail(QStringLiteral("text is not valid Unicode"));
    return text;
}

QVariant XmlReader::value(int depth)
{
    if (m_xml.hasError())
        return fail(m_xml.errorString());
    if (depth > kMaxDepth)
        return fail(QStringLiteral("nested deeper than %1 levels").arg(kMaxDepth));
    if (++m_values > kMaxValues)
        return fail(QStringLiteral("more than %1 values").arg(kMaxValues));
    const QString name = m_xml.name().toString();
    if (name == QLatin1String("dict"))
        return dictionary(depth);
    if (name == QLatin1String("array"))
        return array(depth);
    const QString content = text();
    if (!m_error.isEmpty())
        return {};
    if (name == QLatin1String("string"))
        return QVariant(content);
    if (name == QLatin1String("integer"))
        return integer(content.trimmed());
    if (name == QLatin1String("real"))
        return real(content.trimmed());
    if (name == QLatin1String("data"))
        return data(content);
    if (name == QLatin1String("date")) {
        QDateTime date = QDateTime::fromString(content.trimmed(), Qt::ISODate);
        if (!date.isValid())
            return fail(QStringLiteral("<date> \"%1\" is not an ISO 8601 date").arg(content.left(40)));
        if (date.timeSpec() == Qt::LocalTime)
            date.setTimeSpec(Qt::UTC);
        return QVariant(date.toUTC());
    }
    if (name == QLatin1String("true") || name == QLatin1String("false")) {
        if (!content.trimmed().isEmpty())
            return fail(QStringLiteral("<%1> holds text").arg(name));
        return QVariant(name == QLatin1String("true"));
    }
    return fail(QStringLiteral("<%1> is not a property-list element").arg(name.left(40)));
}

QVariant XmlReader::dictionary(int depth)
{
    QVariantMap map;
    while (nextChild()) {
        if (m_xml.name() != QLatin1String("key"))
            return fail(QStringLiteral("<%1> where a <key> belongs").arg(m_xml.name().left(40)));
        const QString key = text();
        if (!m_error.isEmpty())
            return {};
        if (!nextChild())
            return fail(QStringLiteral("<key>%1</key> has no value").arg(key.left(40)));
        QVariant item = value(depth + 1);
        if (!m_error.isEmpty())
            return {};
        map.insert(key, item);
    }
    if (m_xml.hasError())
        return fail(m_xml.errorString());
    return m_error.isEmpty() ? QVariant(map) : QVariant();
}

QVariant XmlReader::array(int depth)
{
    QVariantList list;
    while (nextChild()) {
        list.append(value(depth + 1));
        if (!m_error.isEmpty())
            return {};
    }
    if (m_xml.hasError())
        return fail(m_xml.errorString());
    return m_error.isEmpty() ? QVariant(list) : QVariant();
}

QVariant XmlReader::integer(const QString &text)
{
    bool ok = false;
    qint64 value = text.toLongLong(&ok, 10);
    if (!ok) {
        // Values above the signed range come back as their two's complement,
        // as the binary form stores them.
        value = qint64(text.toULongLong(&ok, 10));
    }
    if (!ok && text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        value = qint64(text.mid(2).toULongLong(&ok, 16));
    if (!ok)
        return fail(QStringLiteral("<integer> \"%1\" is not an integer").arg(text.left(40)));
    return QVariant(value);
}

QVariant XmlReader::real(const QString &text)
{
    QString number = text;
    number.replace(QLatin1String("infinity"), QLatin1String("inf"), Qt::CaseInsensitive);
    bool ok = false;
    const double value = number.toDouble(&ok);
    if (!ok)
        return fail(QStringLiteral("<real> \"%1\" is not a number").arg(text.left(40)));
    return QVariant(value);
}

QVariant XmlReader::data(const QString &text)
{
    QByteArray base64;
    base64.reserve(text.size());
    for (const QChar c : text) {
        if (c.isSpace())
            continue;
        if (c.unicode() > 0x7F)
            return fail(QStringLiteral("<data> is not base64"));
        base64.append(char(c.unicode()));
    }
    const auto decoded = QByteArray::fromBase64Encoding(base64, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return fail(QStringLiteral("<data> is not base64"));
    return QVariant(decoded.decoded);
}

} // namespace

QVariant readXml(const QByteArray &data, QString *error)
{
    return XmlReader(data).read(error);
}

} // namespace platform::plist

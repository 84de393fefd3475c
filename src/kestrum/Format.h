#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

#include <initializer_list>

namespace kestrum {

// One argument of makeString: a text, a number or a property-list value.
class FormatArg
{
public:
    FormatArg(const QString &s) : m_value(s) {}
    FormatArg(const char *s) : m_value(QString::fromUtf8(s)) {}
    FormatArg(QLatin1String s) : m_value(QString(s)) {}
    FormatArg(const QStringList &l) : m_value(l) {}
    FormatArg(const QVariant &v) : m_value(v) {}
    FormatArg(bool b) : m_value(qint64(b)) {}
    FormatArg(int n) : m_value(qint64(n)) {}
    FormatArg(long n) : m_value(qint64(n)) {}
    FormatArg(long long n) : m_value(qint64(n)) {}
    FormatArg(unsigned n) : m_value(quint64(n)) {}
    FormatArg(unsigned long n) : m_value(quint64(n)) {}
    FormatArg(unsigned long long n) : m_value(quint64(n)) {}
    FormatArg(double d) : m_value(d) {}

    const QVariant &value() const { return m_value; }

private:
    QVariant m_value;
};

// Formats like the Mac's string formatting: "%@" takes any value and shows
// its description, "%i", "%li", "%lu", "%.1f", "%s", "%x", "%%" and the rest
// of printf's conversions take numbers and texts in order. A missing object
// shows as "(null)", as on the Mac; a missing number as 0.
QString formatString(const char *format, std::initializer_list<FormatArg> args);

template<typename... Args>
QString makeString(const char *format, const Args &...args)
{
    return formatString(format, {FormatArg(args)...});
}

// The description of a value as "%@" shows it: texts as they are, numbers
// in their shortest form, lists and dictionaries in the Mac's layout.
QString describe(const QVariant &value);

// A record's keys and values, one "\n%@: %@" line per key, in key order.
// An empty key list gives an empty text.
QString makeDescription(const QVariantMap &object, const QStringList &keys);

} // namespace kestrum

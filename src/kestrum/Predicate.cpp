#include "kestrum/Predicate.h"

#include <QRegularExpression>

namespace kestrum {

namespace {

QString comparable(QString text, bool caseless, bool diacriticless)
{
    if (diacriticless) {
        text = text.normalized(QString::NormalizationForm_D);
        text.removeIf([](QChar c) { return c.category() == QChar::Mark_NonSpacing; });
    }
    return caseless ? text.toCaseFolded() : text;
}

} // namespace

Predicate::Predicate(const char *format, std::initializer_list<FormatArg> args)
{
    static const QRegularExpression grammar(
        QStringLiteral(R"(^\s*(?:(NOT|!)\s+)?(SELF|%K|[A-Za-z_][\w.]*)\s+(BEGINSWITH|ENDSWITH|CONTAINS|==?|!=|<>))"
                       R"((?:\[([cd]+)\])?\s+%@\s*$)"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = grammar.match(QString::fromUtf8(format));
    const QString left = match.captured(2);
    const bool keyArgument = left.compare(QLatin1String("%K"), Qt::CaseInsensitive) == 0;
    if (!match.hasMatch() || qsizetype(args.size()) != (keyArgument ? 2 : 1))
        return;

    const FormatArg *arg = args.begin();
    m_negated = match.hasCaptured(1);
    if (keyArgument)
        m_keyPath = (arg++)->value().toString();
    else if (left.compare(QLatin1String("SELF"), Qt::CaseInsensitive) != 0)
        m_keyPath = left;
    const QString op = match.captured(3).toUpper();
    m_operator = op == QLatin1String("BEGINSWITH") ? BeginsWith
        : op == QLatin1String("ENDSWITH")          ? EndsWith
        : op == QLatin1String("CONTAINS")          ? Contains
        : op.startsWith(QLatin1Char('='))          ? Equal
                                                   : NotEqual;
    m_caseless = match.captured(4).contains(QLatin1Char('c'), Qt::CaseInsensitive);
    m_diacriticless = match.captured(4).contains(QLatin1Char('d'), Qt::CaseInsensitive);
    m_argument = arg->value();
    m_valid = true;
}

bool Predicate::operator()(const QVariant &element) const
{
    if (!m_valid)
        return false;
    const QVariant value = m_keyPath.isEmpty() ? element : detail::fieldValueAtPath(element, m_keyPath);
    const bool texts = value.typeId() == QMetaType::QString && m_argument.typeId() == QMetaType::QString;
    const QString text = texts ? comparable(value.toString(), m_caseless, m_diacriticless) : QString();
    const QString wanted = texts ? comparable(m_argument.toString(), m_caseless, m_diacriticless) : QString();
    bool result = false;
    switch (m_operator) {
    case BeginsWith:
        result = texts && text.startsWith(wanted);
        break;
    case EndsWith:
        result = texts && text.endsWith(wanted);
        break;
    case Contains:
        result = texts && text.contains(wanted);
        break;
    case Equal:
    case NotEqual:
        result = (texts ? text == wanted : value.isValid() && value == m_argument) == (m_operator == Equal);
        break;
    }
    return result != m_negated;
}

} // namespace kestrum

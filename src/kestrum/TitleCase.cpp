// Capitalisation members of StringUtilities.h: word capitalisation with
// listed words upper-cased, and English title case.
#include "kestrum/StringUtilities.h"

#include <QRegularExpression>

#include <functional>

namespace kestrum {

namespace {

// The small words title case keeps in lower case. The list is used as
// regular-expression text as it stands, so the dots of "e.g." match any
// character; "for" and "to" appear twice, which does no harm.
const QStringList kTitlecaseLowercaseWords = {
    QStringLiteral("a"),    QStringLiteral("an"),   QStringLiteral("the"),  QStringLiteral("and"),
    QStringLiteral("but"),  QStringLiteral("for"),  QStringLiteral("nor"),  QStringLiteral("or"),
    QStringLiteral("so"),   QStringLiteral("yet"),  QStringLiteral("at"),   QStringLiteral("by"),
    QStringLiteral("for"),  QStringLiteral("in"),   QStringLiteral("of"),   QStringLiteral("off"),
    QStringLiteral("on"),   QStringLiteral("out"),  QStringLiteral("to"),   QStringLiteral("up"),
    QStringLiteral("via"),  QStringLiteral("to"),   QStringLiteral("c"),    QStringLiteral("ca"),
    QStringLiteral("etc"),  QStringLiteral("e.g."), QStringLiteral("i.e."), QStringLiteral("vs."),
    QStringLiteral("vs"),   QStringLiteral("v"),    QStringLiteral("down"), QStringLiteral("from"),
    QStringLiteral("into"), QStringLiteral("like"), QStringLiteral("near"), QStringLiteral("onto"),
    QStringLiteral("over"), QStringLiteral("than"), QStringLiteral("with"), QStringLiteral("upon"),
};

// Every word's first character upper case and the rest lower case, a word
// being whatever lies between whitespace and line breaks.
QString capitalized(const QString &text)
{
    QString out;
    out.reserve(text.size());
    bool atWordStart = true;
    for (qsizetype i = 0; i < text.size();) {
        const QChar c = text.at(i);
        const qsizetype length =
            c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate() ? 2 : 1;
        const QString character = text.mid(i, length);
        if (c.isSpace()) {
            out += character;
            atWordStart = true;
        } else {
            out += atWordStart ? character.toUpper() : character.toLower();
            atWordStart = false;
        }
        i += length;
    }
    return out;
}

// Replaces every match of `pattern` by what `with` makes of it. Built by
// hand rather than with a replacement template so that a word's own "\" or
// "$" stays literal.
QString replaceMatches(const QString &text, const QString &pattern,
                       const std::function<QString(const QRegularExpressionMatch &)> &with)
{
    const QRegularExpression expression(pattern, QRegularExpression::UseUnicodePropertiesOption);
    if (!expression.isValid())
        return text;
    QString out;
    qsizetype copied = 0;
    QRegularExpressionMatchIterator it = expression.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        out += QStringView(text).mid(copied, match.capturedStart() - copied);
        out += with(match);
        copied = match.capturedEnd();
    }
    out += QStringView(text).mid(copied);
    return out;
}

} // namespace

QString capitalizedStringWithUppercaseWords(const QString &text, const QStringList &uppercaseWords)
{
    QString result = capitalized(text);
    for (const QString &word : uppercaseWords) {
        const QString upper = word.toUpper();
        result = replaceMatches(result, QStringLiteral("(\\W)") + capitalized(word) + QStringLiteral("(\\W)"),
                                [&](const QRegularExpressionMatch &m) { return m.captured(1) + upper + m.captured(2); });
    }
    // A second pass for the last word: the first one needs a character after it.
    for (const QString &word : uppercaseWords) {
        const QString upper = word.toUpper();
        result = replaceMatches(result, QStringLiteral("(\\W)") + capitalized(word) + QStringLiteral("(\\Z)"),
                                [&](const QRegularExpressionMatch &m) { return m.captured(1) + upper; });
    }
    return result;
}

QString titlecaseStringWithLowercaseWords(const QString &text, const QStringList &lowercaseWords,
                                          const QStringList &uppercaseWords)
{
    QString result = capitalizedStringWithUppercaseWords(text, uppercaseWords);
    for (const QString &word : lowercaseWords) {
        const QString lower = word.toLower();
        result = replaceMatches(result, QStringLiteral("([^:,;,-]\\s)") + capitalized(word) + QStringLiteral("(\\s)"),
                                [&](const QRegularExpressionMatch &m) { return m.captured(1) + lower + m.captured(2); });
    }
    return result;
}

QString titlecaseString(const QString &text)
{
    return titlecaseStringWithLowercaseWords(text, kTitlecaseLowercaseWords);
}

QString propercaseString(const QString &text)
{
    if (text.size() <= 1)
        return text.toUpper();
    return text.left(1).toUpper() + text.mid(1).toLower();
}

} // namespace kestrum

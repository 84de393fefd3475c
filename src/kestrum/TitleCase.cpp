// Capitalisation members of StringUtilities.h: word capitalisation with
// listed words upper-cased, and English title case.
#include "kestrum/StringUtilities.h"

#include "kestrum/Format.h"

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

// A replacement written as the Mac writes one: "$1" and "$2" are the
// match's groups and "%@" the word, which goes in as it is.
QString filled(QStringView replacement, const QRegularExpressionMatch &match, const QString &word)
{
    QString out;
    for (qsizetype i = 0; i < replacement.size(); ++i) {
        const QChar next = i + 1 < replacement.size() ? replacement[i + 1] : QChar();
        if (replacement[i] == u'$' && next.isDigit()) {
            out += match.captured(next.digitValue());
            ++i;
        } else if (replacement[i] == u'%' && next == u'@') {
            out += word;
            ++i;
        } else {
            out += replacement[i];
        }
    }
    return out;
}

} // namespace

QString capitalizedStringWithUppercaseWords(const QString &text, const QStringList &uppercaseWords)
{
    QString result = capitalized(text);
    for (const QString &word : uppercaseWords) {
        const QString upper = word.toUpper();
        result = replaceMatches(result, makeString("(\\W)%@(\\W)", capitalized(word)),
                                [&](const QRegularExpressionMatch &m) { return filled(u"$1%@$2", m, upper); });
    }
    // A second pass for the last word: the first one needs a character after it.
    for (const QString &word : uppercaseWords) {
        const QString upper = word.toUpper();
        result = replaceMatches(result, makeString("(\\W)%@(\\Z)", capitalized(word)),
                                [&](const QRegularExpressionMatch &m) { return filled(u"$1%@", m, upper); });
    }
    return result;
}

QString titlecaseStringWithLowercaseWords(const QString &text, const QStringList &lowercaseWords,
                                          const QStringList &uppercaseWords)
{
    QString result = capitalizedStringWithUppercaseWords(text, uppercaseWords);
    for (const QString &word : lowercaseWords) {
        const QString lower = word.toLower();
        result = replaceMatches(result, makeString("([^:,;,-]\\s)%@(\\s)", capitalized(word)),
                                [&](const QRegularExpressionMatch &m) { return filled(u"$1%@$2", m, lower); });
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

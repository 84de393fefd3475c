#include "kestrum/StringUtilities.h"

#include "kestrum/VariantKinds.h"
#include "kestrum/Format.h"

#include <QLocale>
#include <QSet>

#include <algorithm>

namespace kestrum {

namespace {

// Letters and digits that ordinary text does not contain, so that "key +
// marker" only ever matches where the marking pass put it.
const QString kMarker = QStringLiteral("Zq8Xv3Jm6Wk1Yp4B");
constexpr qsizetype kMarkerLength = 16;

using Replacement = std::pair<QString, QString>;

// A marker is safe when none of its characters occurs in a key (so marking
// one key never cuts into another key's marker) and it does not occur in the
// text or a value (so every marker in the working text is one we inserted).
// The fixed marker nearly always is; otherwise a letter that none of the
// inputs use, repeated, is.
QString chooseMarker(const QString &text, const QList<Replacement> &entries)
{
    bool fixedIsSafe = !text.contains(kMarker);
    for (const Replacement &entry : entries) {
        const QString &key = entry.first;
        if (entry.second.contains(kMarker)
            || std::any_of(kMarker.cbegin(), kMarker.cend(), [&](QChar c) { return key.contains(c); }))
            fixedIsSafe = false;
    }
    if (fixedIsSafe)
        return kMarker;

    QSet<QChar> used(text.cbegin(), text.cend());
    for (const auto &[key, value] : entries) {
        for (QChar c : key)
            used.insert(c);
        for (QChar c : value)
            used.insert(c);
    }
    auto freeLetter = [&](char16_t first, char16_t last) -> std::optional<QChar> {
        for (char16_t c = first; c <= last; ++c) {
            if (QChar(c).isLetterOrNumber() && !used.contains(QChar(c)))
                return QChar(c);
        }
        return std::nullopt;
    };
    // ASCII first, then the Vai syllabary and the CJK ideographs: letters
    // that a text handled here practically never contains all of.
    for (auto [first, last] : {std::pair<char16_t, char16_t>{u'0', u'z'}, {0xA500, 0xA60B}, {0x4E00, 0x9FFF}}) {
        if (const auto letter = freeLetter(first, last))
            return QString(kMarkerLength, *letter);
    }
    return kMarker;
}

bool isLineBreakCharacter(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 0x0A && u <= 0x0D) || u == 0x85 || u == 0x2028 || u == 0x2029;
}

QStringList splitAt(const QString &text, bool (*isSeparator)(QChar))
{
    QStringList pieces;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (isSeparator(text.at(i))) {
            pieces.append(text.mid(start, i - start));
            start = i + 1;
        }
    }
    pieces.append(text.mid(start));
    return pieces;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool containsOnly(const QString &text, const QString &allowed)
{
    return std::all_of(text.cbegin(), text.cend(), [&](QChar c) { return allowed.contains(c); });
}

} // namespace

QString literalString(const QString &text)
{
    return QStringLiteral("@\"") + text + QLatin1Char('"');
}

QString literalString(const QVariantList &array)
{
    if (array.isEmpty())
        return QStringLiteral("@[]");
    QString out = QStringLiteral("@[");
    for (const QVariant &element : array)
        out += makeString("%@, ", literalString(element));
    out.chop(2);
    return out + QLatin1Char(']');
}

QString literalString(const QVariantMap &dictionary)
{
    if (dictionary.isEmpty())
        return QStringLiteral("@{}");
    QString out = QStringLiteral("@{");
    for (auto it = dictionary.cbegin(); it != dictionary.cend(); ++it)
        out += makeString("%@ : %@, ", literalString(it.key()), literalString(it.value()));
    out.chop(2);
    return out + QLatin1Char('}');
}

QString literalString(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::QString:
        return literalString(value.toString());
    case QMetaType::QVariantList:
    case QMetaType::QStringList:
        return literalString(value.toList());
    case QMetaType::QVariantMap:
        return literalString(value.toMap());
    default:
        if (isNumericValue(value))
            return makeString("@(%@)", value);
        return literalString(describe(value));
    }
}

QString stringByReplacingMultipleStrings(const QString &text, const QVariantMap &replacements)
{
    QList<Replacement> entries;
    for (auto it = replacements.cbegin(); it != replacements.cend(); ++it) {
        if (it.key().isEmpty() || !it.value().isValid() || it.value().isNull())
            continue;
        entries.append({it.key(), it.value().toString()});
    }
    const QString marker = chooseMarker(text, entries);

    QString working = text;
    for (const auto &[key, value] : entries)
        working.replace(key, key + marker);

    // Each changing pass consumes at least one marker and values bring none
    // in, so this ends.
    bool changed = true;
    while (changed) {
        changed = false;
        for (const auto &[key, value] : entries) {
            const QString marked = key + marker;
            if (working.contains(marked)) {
                working.replace(marked, value);
                changed = true;
            }
        }
    }
    return working;
}

bool isValidEmail(const QString &text)
{
    static const QString localValid =
        QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789!#$%&'*+-/=?^_`{|}~.");
    static const QString domainValid = QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-.");

    if (text.size() > 254)
        return false;
    const QStringList parts = text.split(QLatin1Char('@'));
    if (parts.size() != 2)
        return false;
    if (!parts.at(1).contains(QLatin1Char('.')))
        return false;
    return containsOnly(parts.at(0), localValid) && containsOnly(parts.at(1), domainValid);
}

bool isIntegerNumber(const QString &text)
{
    const QList<uint> codePoints = text.toUcs4();
    return std::any_of(codePoints.cbegin(), codePoints.cend(), [](uint c) { return QChar::isDigit(char32_t(c)); });
}

bool isIntegerNumberOnly(const QString &text)
{
    const QList<uint> codePoints = text.toUcs4();
    return std::all_of(codePoints.cbegin(), codePoints.cend(), [](uint c) { return QChar::isDigit(char32_t(c)); });
}

bool isFloatNumber(const QString &text)
{
    // Built once, with the separators of the locale in force at first use.
    static const QString cs = [] {
        const QLocale locale;
        return QStringLiteral(",.") + locale.groupSeparator() + locale.decimalPoint();
    }();
    return isIntegerNumber(text) && std::any_of(text.cbegin(), text.cend(), [](QChar c) { return cs.contains(c); });
}

QChar firstCharacter(const QString &text)
{
    return text.isEmpty() ? QChar() : text.front();
}

QChar lastCharacter(const QString &text)
{
    return text.isEmpty() ? QChar() : text.back();
}

bool containsAny(const QString &text, const QStringList &needles)
{
    return std::any_of(needles.cbegin(), needles.cend(),
                       [&](const QString &needle) { return !needle.isEmpty() && text.contains(needle); });
}

qsizetype countOccurencesOfString(const QString &text, const QString &needle)
{
    if (needle.isEmpty())
        return 0;
    qsizetype count = 0;
    for (qsizetype at = text.indexOf(needle); at >= 0; at = text.indexOf(needle, at + needle.size()))
        ++count;
    return count;
}

QStringList words(const QString &text)
{
    return splitAt(text, [](QChar c) { return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space; });
}

QStringList lines(const QString &text)
{
    return splitAt(text, isLineBreakCharacter);
}

QString clamp(const QString &text, quint64 length)
{
    return quint64(text.size()) > length ? text.left(qsizetype(length)) : text;
}

QString stringByTrimmingLeadingCharactersInSet(const QString &text, const std::function<bool(QChar)> &inSet)
{
    qsizetype first = 0;
    while (first < text.size() && inSet(text.at(first)))
        ++first;
    return text.mid(first);
}

QString stringByTrimmingLeadingCharactersInSet(const QString &text, const QString &set)
{
    return stringByTrimmingLeadingCharactersInSet(text, [&](QChar c) { return set.contains(c); });
}

QString stringByTrimmingTrailingCharactersInSet(const QString &text, const std::function<bool(QChar)> &inSet)
{
    qsizetype end = text.size();
    while (end > 0 && inSet(text.at(end - 1)))
        --end;
    return text.left(end);
}

QString stringByTrimmingTrailingCharactersInSet(const QString &text, const QString &set)
{
    return stringByTrimmingTrailingCharactersInSet(text, [&](QChar c) { return set.contains(c); });
}

QString stringRepresentation(const std::function<bool(QChar)> &inSet)
{
    QString members;
    for (char16_t c = 0; c < 0xFFFF; ++c) {
        if (inSet(QChar(c)))
            members += QChar(c);
    }
    return members;
}

std::optional<QByteArray> dataFromHexString(const QString &text)
{
    if (!text.isValidUtf16())
        return std::nullopt; // an unpaired surrogate has no UTF-8 form
    const QByteArray utf8 = text.toUtf8();
    QByteArray bytes(utf8.size() / 2, '\0');
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const int high = hexDigit(utf8.at(2 * i));
        const int low = hexDigit(utf8.at(2 * i + 1));
        // The longest valid hexadecimal prefix of the pair.
        const int value = high < 0 ? 0 : low < 0 ? high : high * 16 + low;
        bytes[i] = char(value);
    }
    return bytes;
}

QString escaped(const QString &text)
{
    // The URL-query-allowed set besides letters, digits and "-._~", which
    // toPercentEncoding always leaves alone.
    static const QByteArray queryAllowed = "!$&'()*+,/:;=?@";
    return QString::fromLatin1(text.toUtf8().toPercentEncoding(queryAllowed));
}

} // namespace kestrum

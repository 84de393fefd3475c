#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <functional>
#include <optional>

// Text conveniences the rest of the program leans on where Qt has no member
// of its own. Lengths, indexes and characters are UTF-16 code units.
namespace kestrum {

// @"text": an at sign and the text in double quotes, inner quotes left as they are.
QString literalString(const QString &text);
// "@[a, b]" with each element's own literal; "@[]" when empty.
QString literalString(const QVariantList &array);
// "@{k : v, ...}" in key order; "@{}" when empty.
QString literalString(const QVariantMap &dictionary);
// Text, number ("@(%@)"), list or map literal; any other value is shown as the text literal of its description.
QString literalString(const QVariant &value);

// Every key replaced by its value at once: a value is not searched again for keys; empty keys and absent values are skipped.
QString stringByReplacingMultipleStrings(const QString &text, const QVariantMap &replacements);

// Every word capitalised, then each word of `uppercaseWords` upper-cased where non-word characters (or the end) surround it.
QString capitalizedStringWithUppercaseWords(const QString &text, const QStringList &uppercaseWords);
// As above, then each of `lowercaseWords` lower-cased inside a sentence (not first, last or after ":,;-").
QString titlecaseStringWithLowercaseWords(const QString &text, const QStringList &lowercaseWords,
                                          const QStringList &uppercaseWords = {});
// Title case with English articles, conjunctions and short prepositions kept small.
QString titlecaseString(const QString &text);
// First character upper case, the rest lower case; "" stays "".
QString propercaseString(const QString &text);

// A plausible e-mail address: at most 254 characters, one "@", a dot in the domain, only permitted characters.
bool isValidEmail(const QString &text);
// Whether the text contains at least one decimal digit.
bool isIntegerNumber(const QString &text);
// Whether the text holds nothing but decimal digits (true for "").
bool isIntegerNumberOnly(const QString &text);
// Whether the text holds a decimal digit and one of ",." or the locale's separators (as first seen).
bool isFloatNumber(const QString &text);

// The first / last code unit; QChar() (0) for "".
QChar firstCharacter(const QString &text);
QChar lastCharacter(const QString &text);
// Whether any of `needles` occurs in the text; an empty needle never does, as on the Mac.
bool containsAny(const QString &text, const QStringList &needles);

// Non-overlapping occurrences of `needle`, counted left to right; 0 for an empty needle.
qsizetype countOccurencesOfString(const QString &text, const QString &needle);
// Pieces between spaces and tabs (Unicode space separators); consecutive separators give empty pieces.
QStringList words(const QString &text);
// Pieces between line-break characters; "\r\n" gives an empty piece between its two characters.
QStringList lines(const QString &text);
// The first `length` code units, or the whole text when it is not longer.
QString clamp(const QString &text, quint64 length);

// From the first character not in `set` to the end; "" when every character is in it.
QString stringByTrimmingLeadingCharactersInSet(const QString &text, const QString &set);
QString stringByTrimmingLeadingCharactersInSet(const QString &text, const std::function<bool(QChar)> &inSet);
// From the start through the last character not in `set`; "" when every character is in it.
QString stringByTrimmingTrailingCharactersInSet(const QString &text, const QString &set);
QString stringByTrimmingTrailingCharactersInSet(const QString &text, const std::function<bool(QChar)> &inSet);

// Every code unit from 0 to 65534 that the set holds, in ascending order.
QString stringRepresentation(const std::function<bool(QChar)> &inSet);

// Pairs of hexadecimal digits as bytes ("0aff1" gives 0a ff); a bad pair reads its valid prefix; nullopt without a UTF-8 form.
std::optional<QByteArray> dataFromHexString(const QString &text);

// Rows of fields split at `delimiter`, with double-quoted fields, "" as a quote inside quotes, and blank lines dropped.
QList<QStringList> parsedDSVWithDelimiter(const QString &text, const QString &delimiter);

// Percent-encoded for a URL: everything outside the URL-query-allowed characters is encoded as UTF-8.
QString escaped(const QString &text);

} // namespace kestrum

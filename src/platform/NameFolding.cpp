#include "platform/NameFolding.h"

#include <unicode/unorm2.h>
#include <unicode/ustring.h>

#include <QList>

#include <optional>
#include <type_traits>
#include <utility>

namespace platform {

namespace {

bool isAscii(QStringView text)
{
    for (const QChar c : text) {
        if (c.unicode() >= 0x80)
            return false;
    }
    return true;
}

bool hasAsciiUpper(QStringView text)
{
    for (const QChar c : text) {
        if (c.unicode() >= 'A' && c.unicode() <= 'Z')
            return true;
    }
    return false;
}

// One ICU step: calls `step(out, capacity, &status)` with a buffer that
// grows once when the first is too small. Empty on any other failure.
template<typename Step>
std::optional<QString> icuStep(qsizetype hint, const Step &step)
{
    QString out(qMax<qsizetype>(hint, 16), Qt::Uninitialized);
    for (int attempt = 0; attempt < 2; ++attempt) {
        UErrorCode status = U_ZERO_ERROR;
        const int32_t length = step(reinterpret_cast<UChar *>(out.data()), int32_t(out.size()), &status);
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            out.resize(length);
            continue;
        }
        if (U_FAILURE(status))
            return std::nullopt;
        out.resize(length);
        return out;
    }
    return std::nullopt;
}

std::optional<QString> decomposed(QStringView text)
{
    UErrorCode status = U_ZERO_ERROR;
    const UNormalizer2 *nfd = unorm2_getNFDInstance(&status);
    if (U_FAILURE(status))
        return std::nullopt;
    const auto *source = reinterpret_cast<const UChar *>(text.utf16());
    return icuStep(text.size() + text.size() / 2, [&](UChar *out, int32_t capacity, UErrorCode *error) {
        return unorm2_normalize(nfd, source, int32_t(text.size()), out, capacity, error);
    });
}

std::optional<QString> caseFolded(const QString &text)
{
    const auto *source = reinterpret_cast<const UChar *>(text.utf16());
    return icuStep(text.size() + text.size() / 4, [&](UChar *out, int32_t capacity, UErrorCode *error) {
        return u_strFoldCase(out, capacity, source, int32_t(text.size()), U_FOLD_CASE_DEFAULT, error);
    });
}

QString foldedUnicode(QStringView text);

// Text with invalid parts is folded name by name, each invalid name kept as
// it is, so a path and its folder agree on the folder's part of the key.
QString foldedByName(QStringView text)
{
    QString out;
    out.reserve(text.size());
    bool first = true;
    for (const QStringView part : text.split(QLatin1Char('/'))) {
        if (!std::exchange(first, false))
            out += QLatin1Char('/');
        out += part.isValidUtf16() ? foldedName(part) : part.toString();
    }
    return out;
}

// The full fold of Unicode text: decomposed, folded, and decomposed again
// (folding can make a character that decomposes).
QString foldedUnicode(QStringView text)
{
    if (!text.isValidUtf16())
        return foldedByName(text);
    const std::optional<QString> first = decomposed(text);
    const std::optional<QString> folded = first ? caseFolded(*first) : std::nullopt;
    const std::optional<QString> second = folded ? decomposed(*folded) : std::nullopt;
    return second.value_or(text.toString());
}

// UTF-8 with at least one byte beyond ASCII.
QByteArray foldedNonAsciiUtf8(QByteArrayView utf8)
{
    if (utf8.isValidUtf8())
        return foldedUnicode(QString::fromUtf8(utf8)).toUtf8();
    // Name by name, as foldedByName() does.
    QByteArray out;
    out.reserve(utf8.size());
    bool first = true;
    for (qsizetype start = 0; start <= utf8.size();) {
        qsizetype end = utf8.indexOf('/', start);
        if (end < 0)
            end = utf8.size();
        const QByteArrayView part = utf8.sliced(start, end - start);
        if (!std::exchange(first, false))
            out += '/';
        out += part.isValidUtf8() ? foldedNameUtf8(part) : part.toByteArray();
        start = end + 1;
    }
    return out;
}

// Appends `text` lowered as ASCII, testing in the same pass whether it is
// ASCII at all; when not, appends nothing and says so, and the caller
// folds it in full. For UTF-16 and UTF-8 alike.
template<typename Unit, typename Out>
bool appendedAsciiLowered(const Unit *from, qsizetype size, Out &out)
{
    const qsizetype start = out.size();
    out.resize(start + size);
    Unit *to = reinterpret_cast<Unit *>(out.data()) + start;
    std::make_unsigned_t<Unit> seen = 0;
    for (qsizetype i = 0; i < size; ++i) {
        const Unit c = from[i];
        seen |= std::make_unsigned_t<Unit>(c);
        to[i] = (c >= 'A' && c <= 'Z') ? Unit(c + 32) : c;
    }
    if (seen < 0x80)
        return true;
    out.truncate(start);
    return false;
}

} // namespace

QString foldedName(const QString &text)
{
    if (isAscii(text) && !hasAsciiUpper(text))
        return text;
    return foldedName(QStringView(text));
}

QString foldedName(QStringView text)
{
    QString out;
    appendFoldedName(text, out);
    return out;
}

void appendFoldedName(QStringView text, QString &out)
{
    if (!appendedAsciiLowered(reinterpret_cast<const char16_t *>(text.utf16()), text.size(), out))
        out += foldedUnicode(text);
}

QByteArray foldedNameUtf8(QByteArrayView utf8)
{
    QByteArray out;
    appendFoldedNameUtf8(utf8, out);
    return out;
}

void appendFoldedNameUtf8(QByteArrayView utf8, QByteArray &out)
{
    if (!appendedAsciiLowered(utf8.data(), utf8.size(), out))
        out.append(foldedNonAsciiUtf8(utf8));
}

bool isSameName(QStringView a, QStringView b)
{
    // ASCII folds to ASCII of the same length: no copy is needed.
    if (isAscii(a) && isAscii(b))
        return a.size() == b.size() && a.compare(b, Qt::CaseInsensitive) == 0;
    return foldedName(a) == foldedName(b);
}

} // namespace platform

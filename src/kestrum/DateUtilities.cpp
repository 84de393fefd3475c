#include "kestrum/DateUtilities.h"

#include "kestrum/Format.h"

#include <QLocale>
#include <QStringList>

#include <algorithm>
#include <climits>
#include <cmath>
#include <optional>

namespace kestrum {

namespace {

struct QtPattern
{
    QString format;
    bool twoDigitYear = false;
};

// Qt's own spelling of one run of a Unicode pattern letter; nullopt for a
// field Qt's parser has no counterpart for (eras, week numbers, ...).
std::optional<QString> qtField(QChar letter, qsizetype count)
{
    auto pick = [count](const char *one, const char *two) { return QString::fromLatin1(count == 1 ? one : two); };
    switch (letter.unicode()) {
    case 'y':
    case 'u':
        return QString::fromLatin1(count == 2 ? "yy" : "yyyy");
    case 'M':
    case 'L':
        return QString::fromLatin1(count == 1 ? "M" : count == 2 ? "MM" : count == 3 ? "MMM" : "MMMM");
    case 'd':
        return pick("d", "dd");
    case 'E':
        return QString::fromLatin1(count <= 3 ? "ddd" : "dddd");
    case 'H':
        return pick("H", "HH");
    case 'h':
        return pick("h", "hh");
    case 'm':
        return pick("m", "mm");
    case 's':
        return pick("s", "ss");
    case 'S':
        return QString::fromLatin1(count == 3 ? "zzz" : "z");
    case 'a':
        return QStringLiteral("AP");
    case 'Z':
    case 'z':
    case 'X':
    case 'x':
    case 'O':
    case 'V':
        return QStringLiteral("t");
    default:
        return std::nullopt;
    }
}

// Translates a Unicode date pattern into Qt's format. Quoted literals are
// spelled the same way in both ('' is a quote), and so are other non-letters.
std::optional<QtPattern> qtPattern(const QString &pattern)
{
    QtPattern out;
    for (qsizetype i = 0; i < pattern.size();) {
        const QChar c = pattern.at(i);
        if (c == QLatin1Char('\'')) {
            const qsizetype close = pattern.indexOf(QLatin1Char('\''), i + 1);
            const qsizetype end = close < 0 ? pattern.size() : close + 1;
            out.format += QStringView(pattern).mid(i, end - i);
            i = end;
            continue;
        }
        if (!(c.unicode() < 128 && c.isLetter())) {
            out.format += c;
            ++i;
            continue;
        }
        qsizetype run = i;
        while (run < pattern.size() && pattern.at(run) == c)
            ++run;
        const auto field = qtField(c, run - i);
        if (!field)
            return std::nullopt;
        if (c == QLatin1Char('y') && run - i == 2)
            out.twoDigitYear = true;
        out.format += *field;
        i = run;
    }
    return out;
}

// Qt reads "yy" as 19yy; the Mac's formatter, like ICU, takes the year in
// the hundred years from eighty years ago.
QDateTime withTwoDigitYearWindow(const QDateTime &date)
{
    const int start = QDate::currentDate().year() - 80;
    int year = start - start % 100 + date.date().year() % 100;
    if (year < start)
        year += 100;
    return date.addYears(year - date.date().year());
}

int truncated(double value)
{
    if (!std::isfinite(value))
        return 0;
    return int(std::clamp(std::trunc(value), double(INT_MIN), double(INT_MAX)));
}

} // namespace

QDateTime dateWithString(const QString &text, const QString &pattern, const QString &localeIdentifier)
{
    const auto translated = qtPattern(pattern);
    if (!translated)
        return QDateTime();
    const QDateTime date = QLocale(localeIdentifier).toDateTime(text, translated->format);
    if (!date.isValid() || !translated->twoDigitYear)
        return date;
    return withTwoDigitYearWindow(date);
}

QDateTime dateWithPreprocessorDate(const char *text)
{
    // The compiler pads a one-digit day with a space: "Dec  7 2026".
    return dateWithString(QString::fromLatin1(text).simplified(), QStringLiteral("MMM d yyyy"));
}

QString stringUsingFormat(const QDateTime &date, const QString &pattern)
{
    const auto translated = qtPattern(pattern);
    return translated ? QLocale(QStringLiteral("en_US")).toString(date, translated->format) : QString();
}

QString stringUsingDateStyle(const QDateTime &date, std::optional<QLocale::FormatType> dateStyle,
                             std::optional<QLocale::FormatType> timeStyle)
{
    const QLocale locale;
    QStringList parts;
    if (dateStyle)
        parts.append(locale.toString(date.date(), *dateStyle));
    if (timeStyle)
        parts.append(locale.toString(date.time(), *timeStyle));
    return parts.join(QLatin1Char(' '));
}

QString formattedTimeFromTimeInterval(double seconds)
{
    const int minutes = truncated(seconds / 60);
    if (minutes != 0)
        return makeString("%im %is", minutes, truncated(seconds - minutes * 60.0));
    return makeString("%is", truncated(seconds));
}

} // namespace kestrum

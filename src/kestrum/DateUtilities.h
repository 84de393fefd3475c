#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <optional>

// Date conveniences: dates read with Unicode (CLDR) patterns as the Mac's
// date formatter takes them, and short elapsed-time texts.
namespace kestrum {

// The date `text` gives under the Unicode date pattern and locale ("MMM d yyyy", "en_US"); invalid when it does not parse or uses a field Qt cannot read.
QDateTime dateWithString(const QString &text, const QString &pattern,
                         const QString &localeIdentifier = QStringLiteral("en_US"));

// The compiler's build date (__DATE__, "Dec  7 2026") read with the pattern "MMM d yyyy"; invalid when it does not parse.
QDateTime dateWithPreprocessorDate(const char *text);
// The date written with a Unicode date pattern in the locale "en_US"; "" for a pattern with a field Qt cannot write.
QString stringUsingFormat(const QDateTime &date, const QString &pattern);
// The date and the time in the current locale's styles, joined by a space; a nullopt style leaves its part out.
QString stringUsingDateStyle(const QDateTime &date, std::optional<QLocale::FormatType> dateStyle,
                             std::optional<QLocale::FormatType> timeStyle);

// "2m 5s" for 125.7 seconds, "59s" for 59.9: whole minutes and seconds, truncated; a non-finite interval gives "0s".
QString formattedTimeFromTimeInterval(double seconds);

} // namespace kestrum

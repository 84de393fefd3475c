#pragma once

#include <QDateTime>
#include <QString>

// Date conveniences: dates read with Unicode (CLDR) patterns as the Mac's
// date formatter takes them, and short elapsed-time texts.
namespace kestrum {

// The date `text` gives under the Unicode date pattern and locale ("MMM d yyyy", "en_US"); invalid when it does not parse or uses a field Qt cannot read.
QDateTime dateWithString(const QString &text, const QString &pattern,
                         const QString &localeIdentifier = QStringLiteral("en_US"));

// "2m 5s" for 125.7 seconds, "59s" for 59.9: whole minutes and seconds, truncated; a non-finite interval gives "0s".
QString formattedTimeFromTimeInterval(double seconds);

} // namespace kestrum

// parsedDSVWithDelimiter of StringUtilities.h: delimiter-separated values
// read with a forward scanner that skips nothing on its own.
#include "kestrum/StringUtilities.h"

namespace kestrum {

namespace {

bool isLineBreak(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 0x0A && u <= 0x0D) || u == 0x85 || u == 0x2028 || u == 0x2029;
}

bool isBlank(QChar c)
{
    return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space;
}

} // namespace

QList<QStringList> parsedDSVWithDelimiter(const QString &text, const QString &delimiter)
{
    const QChar quote = QLatin1Char('"');
    auto isStop = [&](QChar c) { return isLineBreak(c) || c == quote || delimiter.contains(c); };
    const QStringView view(text);
    const qsizetype end = text.size();

    QList<QStringList> rows;
    qsizetype pos = 0;
    while (pos < end) {
        QStringList row;
        QString field;
        bool inQuotes = false;
        for (;;) {
            const qsizetype start = pos;
            while (pos < end && !isStop(text.at(pos)))
                ++pos;
            field += view.mid(start, pos - start);

            if (pos >= end) {
                if (!field.isEmpty())
                    row.append(field);
                break;
            }
            if (isLineBreak(text.at(pos))) {
                const qsizetype breaks = pos;
                while (pos < end && isLineBreak(text.at(pos)))
                    ++pos;
                if (!inQuotes) {
                    // The whole run is consumed, so blank lines make no rows.
                    if (!field.isEmpty())
                        row.append(field);
                    break;
                }
                field += view.mid(breaks, pos - breaks);
                continue;
            }
            if (text.at(pos) == quote) {
                ++pos;
                if (!inQuotes) {
                    inQuotes = true;
                } else if (pos < end && text.at(pos) == quote) {
                    field += quote;
                    ++pos;
                } else {
                    inQuotes = false;
                }
                continue;
            }
            if (!delimiter.isEmpty() && view.mid(pos).startsWith(delimiter)) {
                pos += delimiter.size();
                if (inQuotes) {
                    field += delimiter;
                    continue;
                }
                row.append(field);
                field.clear();
                while (pos < end && isBlank(text.at(pos)))
                    ++pos;
                inQuotes = false;
                continue;
            }
            // One character of a longer delimiter standing on its own is
            // plain text; taking it keeps the scanner moving.
            field += text.at(pos);
            ++pos;
        }
        if (!row.isEmpty())
            rows.append(row);
    }
    return rows;
}

} // namespace kestrum

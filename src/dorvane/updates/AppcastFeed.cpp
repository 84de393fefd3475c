#include "dorvane/updates/AppcastFeed.h"

#include <QXmlStreamReader>

namespace dorvane::updates {

namespace {

constexpr QLatin1StringView kSparkleNamespace("http://www.andymatuschak.org/xml-namespaces/sparkle");

struct VersionPart
{
    bool number = false;
    QStringView text;
};

bool isSeparator(QChar c)
{
    return c == u'.' || c == u'-' || c == u'_' || c == u'+' || c.isSpace();
}

bool isAsciiDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

QList<VersionPart> splitVersion(QStringView version)
{
    QList<VersionPart> parts;
    qsizetype i = 0;
    while (i < version.size()) {
        if (isSeparator(version[i])) {
            ++i;
            continue;
        }
        const bool digits = isAsciiDigit(version[i]);
        qsizetype end = i;
        while (end < version.size() && !isSeparator(version[end]) && isAsciiDigit(version[end]) == digits)
            ++end;
        parts.append({digits, version.mid(i, end - i)});
        i = end;
    }
    return parts;
}

int sign(int value)
{
    return (value > 0) - (value < 0);
}

// Digit runs of any length: no overflow, leading zeros ignored.
int compareNumbers(QStringView a, QStringView b)
{
    while (a.size() > 1 && a.front() == u'0')
        a = a.mid(1);
    while (b.size() > 1 && b.front() == u'0')
        b = b.mid(1);
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return sign(a.compare(b));
}

// Either part may be missing (null), but not both.
int compareParts(const VersionPart *a, const VersionPart *b)
{
    if (a && b) {
        if (a->number && b->number)
            return compareNumbers(a->text, b->text);
        if (!a->number && !b->number)
            return sign(a->text.compare(b->text));
        return a->number ? 1 : -1;
    }
    const VersionPart *present = a ? a : b;
    const int presentIsA = a ? 1 : -1;
    if (present->number)
        return presentIsA * compareNumbers(present->text, u"0");
    return -presentIsA;   // a pre-release is older than the release it leads to
}

QString elementText(QXmlStreamReader &xml)
{
    return xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
}

AppcastItem readItem(QXmlStreamReader &xml)
{
    AppcastItem item;
    QString elementVersion;
    QString elementShortVersion;
    while (xml.readNextStartElement()) {
        const QStringView name = xml.name();
        if (xml.namespaceUri() == kSparkleNamespace) {
            if (name == u"version")
                elementVersion = elementText(xml);
            else if (name == u"shortVersionString")
                elementShortVersion = elementText(xml);
            else if (name == u"releaseNotesLink")
                item.releaseNotesLink = elementText(xml);
            else if (name == u"minimumSystemVersion")
                item.minimumSystemVersion = elementText(xml);
            else
                xml.skipCurrentElement();
        } else if (!xml.namespaceUri().isEmpty()) {
            xml.skipCurrentElement();
        } else if (name == u"enclosure") {
            const QXmlStreamAttributes attributes = xml.attributes();
            item.downloadUrl = attributes.value(QLatin1StringView("url")).trimmed().toString();
            item.version = attributes.value(kSparkleNamespace, QLatin1StringView("version")).trimmed().toString();
            item.shortVersion = attributes.value(kSparkleNamespace, QLatin1StringView("shortVersionString")).trimmed().toString();
            xml.skipCurrentElement();
        } else if (name == u"title") {
            item.title = elementText(xml);
        } else if (name == u"link") {
            item.downloadPage = elementText(xml);
        } else if (name == u"description") {
            item.releaseNotes = elementText(xml);
        } else if (name == u"pubDate") {
            item.pubDate = elementText(xml);
        } else {
            xml.skipCurrentElement();
        }
    }
    // The enclosure's attributes win over the item's elements.
    if (item.version.isEmpty())
        item.version = elementVersion;
    if (item.shortVersion.isEmpty())
        item.shortVersion = elementShortVersion.isEmpty() ? item.version : elementShortVersion;
    return item;
}

} // namespace

int compareVersions(const QString &a, const QString &b)
{
    const QList<VersionPart> partsA = splitVersion(a);
    const QList<VersionPart> partsB = splitVersion(b);
    for (qsizetype i = 0; i < std::max(partsA.size(), partsB.size()); ++i) {
        const int order = compareParts(i < partsA.size() ? &partsA[i] : nullptr,
                                       i < partsB.size() ? &partsB[i] : nullptr);
        if (order != 0)
            return order;
    }
    return 0;
}

AppcastFeed AppcastFeed::parse(const QByteArray &data)
{
    AppcastFeed feed;
    if (data.size() > kMaxFeedBytes) {
        feed.error = QStringLiteral("The update feed is larger than %1 MiB.").arg(kMaxFeedBytes / (1024 * 1024));
        return feed;
    }
    QXmlStreamReader xml(data);
    if (xml.readNextStartElement() && (xml.name() != u"rss" || !xml.namespaceUri().isEmpty()))
        xml.raiseError(QStringLiteral("the document is not an RSS feed"));
    while (!xml.hasError() && xml.readNextStartElement()) {
        if (xml.name() != u"channel") {
            xml.skipCurrentElement();
            continue;
        }
        while (xml.readNextStartElement()) {
            if (xml.name() != u"item" || !xml.namespaceUri().isEmpty()) {
                xml.skipCurrentElement();
                continue;
            }
            AppcastItem item = readItem(xml);
            if (!item.version.isEmpty())
                feed.items.append(std::move(item));
        }
    }
    // Read to the end, so that anything broken after the channel is found too.
    while (!xml.atEnd())
        xml.readNext();
    if (xml.hasError()) {
        feed.items.clear();
        feed.error = QStringLiteral("The update feed cannot be read at line %1, column %2: %3")
                         .arg(xml.lineNumber())
                         .arg(xml.columnNumber())
                         .arg(xml.errorString());
    }
    return feed;
}

std::optional<AppcastItem> AppcastFeed::newest() const
{
    const AppcastItem *best = nullptr;
    for (const AppcastItem &item : items) {
        if (!best || compareVersions(item.version, best->version) > 0)
            best = &item;
    }
    if (!best)
        return std::nullopt;
    return *best;
}

} // namespace dorvane::updates

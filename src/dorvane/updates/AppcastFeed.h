#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace dorvane::updates {

// A feed larger than this is refused unread: a real feed is a few kilobytes.
inline constexpr qint64 kMaxFeedBytes = 4 * 1024 * 1024;

// One released version as an appcast item lists it.
struct AppcastItem
{
    QString title;
    QString version;            // the build version, compared with CFBundleVersion
    QString shortVersion;       // the version shown to people; the build version when the feed has none
    QString downloadUrl;        // the enclosure's url; empty for an information-only release
    QString downloadPage;       // the item's <link>
    QString releaseNotesLink;
    QString releaseNotes;       // the item's <description>, HTML
    QString pubDate;
    QString minimumSystemVersion;
};

// An RSS 2.0 feed with Sparkle's namespace. Parsing never throws: a feed
// that is not well-formed XML, not RSS or too large gives an error text and
// no items. Items without a build version cannot be compared and are left
// out.
struct AppcastFeed
{
    QList<AppcastItem> items;
    QString error;

    static AppcastFeed parse(const QByteArray &xml);

    // The item with the highest build version, not the first in the file;
    // of equal versions the first. Nothing when there are no items.
    std::optional<AppcastItem> newest() const;
};

// Compares two version texts the way Sparkle's standard comparator does in
// spirit: <0, 0 or >0 when a is older, the same or newer than b.
// - Runs of digits compare as numbers of any length ("1.10" > "1.9").
// - '.', '-', '_', '+' and white space only separate parts.
// - A missing part counts as 0, so "1.0" == "1.0.0".
// - A text part marks a pre-release: it is older than a number or a missing
//   part at the same place ("1.0b1" < "1.0" < "1.0.1"); two text parts
//   compare as text ("1.0a" < "1.0b").
int compareVersions(const QString &a, const QString &b);

} // namespace dorvane::updates

#pragma once

#include <QByteArray>
#include <QNetworkRequest>
#include <QString>
#include <QUrl>

#include <optional>

namespace kestrum {

// The bundle's resource with this name (no type or extension added), as a
// physical path; empty when the bundle has no such resource. Asked through
// the bundle's own door, so a link there never leads out of the bundle.
QString resourcePath(const QString &name);
QUrl resourceURL(const QString &name);

// The bytes a URL names, fetched synchronously: a file URL is read from the
// volume, any other scheme Qt Network loads is downloaded. Blocks the
// calling thread at most `timeoutMs`; std::nullopt on failure or time-out.
// Call it off the main thread: it waits in an event loop of its own.
std::optional<QByteArray> download(const QUrl &url, int timeoutMs = 60000);
std::optional<QByteArray> download(const QString &urlText, int timeoutMs = 60000);

// Hands the URL to the workspace's default application.
void open(const QUrl &url);

// Load requests for the URL with default settings.
QNetworkRequest request(const QUrl &url);

} // namespace kestrum

#pragma once

#include <QUrl>

#include <functional>

namespace platform {

// The workspace's "open": URLs, files and mail links go to the user's
// default application. Tests replace the opener with a recorder, so that no
// browser or mail program ever starts during a test run.
namespace Workspace {

using UrlOpener = std::function<bool(const QUrl &)>;

bool openUrl(const QUrl &url);

// Installs an opener for the whole process and returns the previous one;
// an empty function restores the desktop's own.
UrlOpener setUrlOpener(UrlOpener opener);

// Whether the Alt key (Option on a Mac) is held at this moment.
bool isAltKeyHeld();

} // namespace Workspace
} // namespace platform

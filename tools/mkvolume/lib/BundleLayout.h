#pragma once

#include "VolumeItems.h"

namespace volumegen::BundleLayout {

// The paths of an application bundle, the bundle folder first, each folder
// before its contents: Contents, Info.plist, PkgInfo, MacOS/<executable>,
// Resources (icon, localized strings, assets), _CodeSignature, and the
// nested helpers in Contents/Library/LoginItems. `bundlePath` is where the
// paths go (relative to an install folder, or a logical path); a bundle
// moved elsewhere gets `movedTo` set on every path, one that is gone gets
// onDisk false.
QList<PathItem> paths(const AppBundle &app, const QString &bundlePath);

// The Info.plist of the bundle, in the bundle's format.
QByteArray infoPlist(const AppBundle &app);

// The name the application goes by: CFBundleName, else the bundle's name.
QString displayName(const AppBundle &app);

} // namespace volumegen::BundleLayout

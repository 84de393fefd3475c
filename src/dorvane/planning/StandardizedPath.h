#pragma once

#include <QString>

namespace dorvane {

// A path as the planner compares it: "~" expanded, "." and ".." and repeated
// slashes resolved lexically, no trailing "/" (except for "/" itself), so
// "/usr/bin/" and "/usr/bin" name the same folder and an application path
// "/Applications/Foo.app/" finds the bill's "/Applications/Foo.app". It never
// touches the disk, so a link never changes what a setting entry means. A
// relative path stays relative; an empty one stays empty.
QString standardizedPath(const QString &path);

} // namespace dorvane

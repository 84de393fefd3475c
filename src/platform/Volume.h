#pragma once

#include <QString>

namespace platform {

// The Mac volume being worked on. Every path the program stores, compares,
// shows or sends to the helper is logical ("/Applications/Foo.app"); only the
// file-system layer turns it into a physical one by putting the root in front.
//
// configure() is called once at start-up, before other threads run; the
// accessors are read-only afterwards and safe from any thread.
class Volume
{
public:
    // root: the physical folder that stands for "/" (empty means "/").
    // home: the logical home folder that "~" stands for (empty means $HOME).
    static void configure(const QString &root, const QString &home);

    static QString root();       // physical, without a trailing slash; "/" for the real disk
    static QString home();       // logical
    static bool isRealRoot();    // true when the volume is the machine's own disk

    // "~" and "~/x" become the logical home; the path is cleaned lexically
    // (".", "..", repeated slashes), and ".." never climbs above "/". A
    // trailing slash is kept, since the program's folder lists rely on it.
    static QString expandTilde(const QString &logical);

    // The physical path of a logical one, lexically: the result always lies
    // at or below the root, whatever ".." the logical path holds.
    static QString physicalPath(const QString &logical);

    // The logical path of a physical one, or an empty string when the
    // physical path lies outside the root.
    static QString logicalPath(const QString &physical);

    // The physical path with symbolic links resolved the way the Mac would
    // resolve them on this volume: an absolute link target counts from the
    // volume root, and ".." never leaves it. With followFinal false, a final
    // link is left as it is (the lstat form). Empty on a link loop.
    static QString resolvedPhysicalPath(const QString &logical, bool followFinal);

    // The logical path with every link resolved inside the volume (empty on
    // a link loop); the part that does not exist is kept as written.
    static QString resolvedLogicalPath(const QString &logical, bool followFinal = true);
};

} // namespace platform

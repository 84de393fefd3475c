#pragma once

#include "platform/LogicalPath.h"

#include <QString>

namespace helperwire {

// One string names the helper tool everywhere: the job's label, the name of
// the service it listens on, the tool's file name in the bundle and on the
// volume. The maker's reverse-DNS domain, a dot, "DorvaneDeleteHelper".
QString helperLabel();

// The tool inside the application bundle, relative to the bundle folder:
// "Contents/Library/LaunchServices/<label>".
QString shippedToolRelativePath();

// Where the installed job lives on the volume being worked on.
platform::LogicalPath installedToolPath();   // /Library/PrivilegedHelperTools/<label>
platform::LogicalPath jobPlistPath();        // /Library/LaunchDaemons/<label>.plist

// The fixed place of the service's socket, and of the running daemon's
// process identifier, on the volume.
platform::LogicalPath socketPath();          // /private/var/run/<label>.socket
platform::LogicalPath pidFilePath();         // /private/var/run/<label>.pid

// Where removed items wait, one root-only folder per uninstall run:
// /private/var/db/<label>/Quarantine/<run-id>.
platform::LogicalPath quarantinePath();

// The ELF section that carries the tool's own Info.plist, as the Mac
// carries it in the code signature.
inline constexpr char InfoPlistSection[] = "__info_plist";

// Keys of the job's property list besides "Label", "ProgramArguments" and
// "MachServices": the physical volume root and the user id it serves.
inline constexpr char VolumeRootKey[] = "VolumeRoot";
inline constexpr char ServedUserKey[] = "ServedUserID";
inline constexpr char ServedHomeKey[] = "ServedUserHome";

} // namespace helperwire

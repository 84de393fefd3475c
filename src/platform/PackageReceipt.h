#pragma once

#include "platform/LogicalPath.h"

#include <QString>

#include <optional>

namespace platform {

// What the installer framework's receipt tells about a bill of materials:
// the prefix the package was installed under. On a Mac the framework knows;
// here the receipt is read from the property list that lies beside the
// bill ("<name>.plist" for "<name>.bom", key "InstallPrefixPath"), or, for a
// legacy bundle, from its "Contents/Info.plist" ("IFPkgRelocatedPath", else
// "IFPkgFlagDefaultLocation").
class PackageReceipt
{
public:
    // Nothing when no receipt list can be read for the bill (a logical path).
    static std::optional<PackageReceipt> openWithBOMPath(const LogicalPath &bomPath);

    // The prefix as the receipt records it, absolute or relative; nothing
    // when the receipt names none.
    std::optional<QString> installPrefixPath() const { return m_prefix; }

private:
    std::optional<QString> m_prefix;
};

} // namespace platform

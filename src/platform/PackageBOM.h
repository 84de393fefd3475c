#pragma once

#include "platform/LogicalPath.h"

#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace platform {

class BomReader;

// The installer framework's view of a bill of materials: the paths it
// lists, relative to the install folder. Opening reads the file through the
// volume door and fails when it cannot be read or lacks what any listing
// needs (header, block table, variables); listing fails when the bill is
// damaged further in, which on a Mac surfaces as an exception while
// enumerating.
class PackageBOM
{
public:
    static std::optional<PackageBOM> openWithBOMPath(const LogicalPath &bomPath, QString *error = nullptr);

    // Every path the bill lists, folders and files, in the bill's order;
    // nothing when the bill is damaged, with the reason in *error.
    std::optional<QStringList> paths(QString *error = nullptr) const;

    // The same as the bill's raw UTF-8 bytes, handed to `visit` one by one
    // with no string made per path; false, with nothing visited, when the
    // bill is damaged.
    bool forEachPath(const std::function<void(QByteArrayView path)> &visit, QString *error = nullptr) const;

    // How many paths a listing hands over, and their bytes together; a
    // damaged bill lists none.
    qsizetype pathCount() const;
    quint64 pathBytes() const;

private:
    std::shared_ptr<const BomReader> m_reader;
};

} // namespace platform

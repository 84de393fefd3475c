#pragma once

#include "platform/Volume.h"

#include <QByteArray>
#include <QByteArrayView>

#include <memory>
#include <optional>

namespace platform {

// Makes logical paths from UTF-8 texts that name many items of one folder
// in a row, as a bill lists them: each path is the one Volume::path() makes
// of the text, but a text in the folder of the one before is cleaned and
// folded in its last name only. One maker serves one thread.
class PathMaker
{
public:
    explicit PathMaker(std::shared_ptr<const Volume> volume) : m_volume(std::move(volume)) {}

    std::optional<LogicalPath> path(QByteArrayView utf8);

private:
    std::shared_ptr<const Volume> m_volume;
    QByteArray m_folderUtf8;               // the folder text met last; never empty once met
    std::optional<LogicalPath> m_folder;   // its path; nothing when it names none
};

} // namespace platform

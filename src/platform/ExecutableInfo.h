#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

namespace platform {

// What an executable says about itself. On the Mac a tool's Info.plist
// travels in its code signature; here it sits in an ELF section of its own,
// found by reading the section table. The bytes may come from any file on
// the volume, so every offset, size and count is checked against them before
// it is used: a hostile file gives nothing, never a crash or a read past
// its end. Nothing outside this program is run.
namespace ExecutableInfo {

// Whether the bytes begin with an ELF identification this reader takes
// (32 or 64 bits, either byte order).
bool isElf(QByteArrayView bytes);

// Whether an ELF file's section table and its table of section names lie
// within the bytes; false for no ELF file. A file that passes may still
// have no section of a given name.
bool hasSoundSectionTable(QByteArrayView elf);

// The bytes of the named section; empty for a section that takes no room
// in the file. Nothing when the bytes are no ELF file or hold no such
// section.
std::optional<QByteArray> section(QByteArrayView elf, QByteArrayView sectionName);

// "CFBundleVersion" of the property list in the named section; nothing when
// there is no section, no dictionary in it, or no such string.
std::optional<QString> bundleVersion(QByteArrayView elf, QByteArrayView sectionName);

} // namespace ExecutableInfo
} // namespace platform

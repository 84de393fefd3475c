// Fuzz target for the ELF reader, which reads the tool named by any job on
// the volume: whatever the bytes say, it reads nothing outside them. The
// section found is nothing or bytes of the input, a cut input gives the same
// section or nothing (no byte comes from past its end), a version comes only
// out of a section, and a section only out of a sound table of an ELF file.
#include "FuzzFail.h"
#include "helperwire/HelperLabel.h"
#include "platform/ExecutableInfo.h"

#include <algorithm>
#include <cstdint>

using namespace platform;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(data, qsizetype(size));
    const QByteArrayView name(helperwire::InfoPlistSection);
    const std::optional<QByteArray> section = ExecutableInfo::section(bytes, name);
    const bool sound = ExecutableInfo::hasSoundSectionTable(bytes);
    if (section && !bytes.contains(*section))
        fail("the section is no bytes of the input");
    if (ExecutableInfo::bundleVersion(bytes, name) && !section)
        fail("a version without a section");
    if ((section && !sound) || (sound && !ExecutableInfo::isElf(bytes)))
        fail("a section without a sound table, or a sound table without an ELF file");
    // Up to 64 cuts, so a large input stays quick.
    const qsizetype step = std::max<qsizetype>(1, bytes.size() / 64);
    for (qsizetype cut = 0; cut < bytes.size(); cut += step) {
        const std::optional<QByteArray> shorter = ExecutableInfo::section(bytes.first(cut), name);
        if (shorter && shorter != section)
            fail("a cut input gives another section");
    }
    return 0;
}

// Fuzz target for the property-list reader: any bytes give either a value or
// a message, never a crash, and whatever is read can be written and read back
// (user defaults write back what they read).
#include "FuzzFail.h"
#include "platform/PropertyList.h"

#include <QDebug>

#include <cstdint>

using namespace platform;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    QString error;
    const QVariant value = PropertyList::fromData(bytes, &error);
    if (value.isValid() == !error.isEmpty())
        fail("value and message disagree:", error);
    if (!value.isValid())
        return 0;
    const QByteArray written = PropertyList::toData(value, PropertyList::Format::Binary);
    QString reread;
    const QVariant back = PropertyList::fromData(written, &reread);
    // A UID has no writer of its own and comes back as an integer.
    const bool sameType = back.typeId() == value.typeId() || value.typeId() == QMetaType::ULongLong;
    if (written.isEmpty() || !back.isValid() || !sameType) {
        qWarning() << value;
        fail("what was read does not write and read back:", reread);
    }
    return 0;
}

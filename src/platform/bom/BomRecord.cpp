#include "platform/bom/BomRecord.h"

#include "platform/bom/BomFormat.h"

#include <cstring>

namespace platform::bom {

namespace {

BomEntry::Type typeOf(quint8 recordType)
{
    switch (recordType) {
    case kRecordFile: return BomEntry::Type::File;
    case kRecordDirectory: return BomEntry::Type::Directory;
    case kRecordLink: return BomEntry::Type::Link;
    case kRecordDevice: return BomEntry::Type::Device;
    default: return BomEntry::Type::Unknown;
    }
}

} // namespace

bool readRecord(const uchar *p, quint32 length, BomEntry *out)
{
    if (length < 4)
        return false;
    const BomEntry::Type type = typeOf(p[0]);
    if (out)
        out->type = type;
    if ((readU16(p + 2) & kFlagsMetadataMask) == 0)
        return true;   // a path-only record: nothing after the flags means anything
    if (length < kRecordMetadataSize)
        return false;
    if (out) {
        out->mode = readU16(p + 4);
        out->uid = readU32(p + 6);
        out->gid = readU32(p + 10);
        out->mtime = readU32(p + 14);
        out->size = readU32(p + 18);
    }
    const uchar *tail = p + kRecordMetadataSize;
    const quint32 tailLength = length - kRecordMetadataSize;
    switch (type) {
    case BomEntry::Type::File:
        if (tailLength < 4)
            return false;
        if (out)
            out->checksum = readU32(tail);
        return true;
    case BomEntry::Type::Device:
        if (tailLength < 4)
            return false;
        if (out)
            out->device = readU32(tail);
        return true;
    case BomEntry::Type::Link: {
        if (tailLength < 8)
            return false;
        const quint32 targetLength = readU32(tail + 4);   // with its NUL
        if (targetLength > tailLength - 8)
            return false;
        if (out) {
            out->checksum = readU32(tail);
            const char *target = reinterpret_cast<const char *>(tail + 8);
            const void *nul = std::memchr(target, 0, targetLength);
            const qsizetype n = nul ? static_cast<const char *>(nul) - target : qsizetype(targetLength);
            out->linkTarget = QString::fromUtf8(target, n);
        }
        return true;
    }
    case BomEntry::Type::Directory:
    case BomEntry::Type::Unknown:
        return true;
    }
    return true;
}

} // namespace platform::bom

#include "DamagedFiles.h"

#include <QtEndian>

#include <cstring>

namespace volumegen::DamagedFiles {

namespace {

// Bounds-checked big-endian access; a fault returns false.
bool readU32(const QByteArray &data, qsizetype at, quint32 *value)
{
    if (at < 0 || at + 4 > data.size())
        return false;
    *value = qFromBigEndian<quint32>(data.constData() + at);
    return true;
}

} // namespace

QByteArray unopenableBill(const QByteArray &bill)
{
    QByteArray damaged = bill;
    const qsizetype lost = qMin<qsizetype>(damaged.size(), 512);
    std::memset(damaged.data(), 0, size_t(lost));
    if (damaged.isEmpty())
        damaged = QByteArray(64, '\0');
    return damaged;
}

QByteArray corruptBill(const QByteArray &bill)
{
    // Header: block table at 16, variables at 24. Variables: count, then
    // {block, name length, name}. The Paths block starts with "tree",
    // version, root block.
    quint32 tableOffset = 0, varsOffset = 0, blockCount = 0, count = 0;
    if (!bill.startsWith("BOMStore") || !readU32(bill, 16, &tableOffset) || !readU32(bill, 24, &varsOffset)
        || !readU32(bill, tableOffset, &blockCount) || !readU32(bill, varsOffset, &count))
        return QByteArray();
    qsizetype at = qsizetype(varsOffset) + 4;
    for (quint32 i = 0; i < count && at + 5 <= bill.size(); ++i) {
        quint32 block = 0;
        readU32(bill, at, &block);
        const int length = quint8(bill.at(at + 4));
        const QByteArray name = bill.mid(at + 5, length);
        at += 5 + length;
        if (name != "Paths")
            continue;
        quint32 treeOffset = 0;
        if (block == 0 || block >= blockCount || !readU32(bill, qsizetype(tableOffset) + 4 + 8 * qsizetype(block), &treeOffset)
            || treeOffset + 12 > quint32(bill.size()) || bill.mid(treeOffset, 4) != "tree")
            return QByteArray();
        QByteArray damaged = bill;
        qToBigEndian<quint32>(blockCount + 1000, damaged.data() + treeOffset + 8);
        return damaged;
    }
    return QByteArray();
}

QByteArray unopenableReceipt(const QByteArray &receipt)
{
    return receipt.left(qMax<qsizetype>(1, receipt.size() / 2)).replace(0, 1, "\x01");
}

} // namespace volumegen::DamagedFiles

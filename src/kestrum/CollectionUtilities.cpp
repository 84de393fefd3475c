#include "kestrum/CollectionUtilities.h"

#include "kestrum/VariantKinds.h"
#include "kestrum/Format.h"

#include <QDateTime>

#include <cmath>

namespace kestrum {

namespace {

void appendFlattened(QVariantList &out, const QVariantList &array)
{
    for (const QVariant &element : array) {
        const int type = element.typeId();
        if (type == QMetaType::QVariantList || type == QMetaType::QStringList)
            appendFlattened(out, element.toList());
        else
            out.append(element);
    }
}

enum Rank { Absent, Number, NotANumber, Text, Date, Other };

Rank rankOf(const QVariant &value)
{
    if (!value.isValid() || value.isNull())
        return Absent;
    if (isNumericValue(value))
        return std::isnan(value.toDouble()) ? NotANumber : Number;
    switch (value.typeId()) {
    case QMetaType::QString:
        return Text;
    case QMetaType::QDateTime:
    case QMetaType::QDate:
        return Date;
    default:
        return Other;
    }
}

} // namespace

QVariantList flattenedArray(const QVariantList &array)
{
    QVariantList out;
    appendFlattened(out, array);
    return out;
}

namespace detail {

bool variantLessThan(const QVariant &a, const QVariant &b)
{
    const Rank left = rankOf(a);
    const Rank right = rankOf(b);
    if (left != right)
        return left < right;
    switch (left) {
    case Number: {
        // QVariant compares integers of any width exactly, and mixes of
        // integers and doubles by value.
        const QPartialOrdering order = QVariant::compare(a, b);
        if (order == QPartialOrdering::Unordered)
            return a.toDouble() < b.toDouble();
        return order == QPartialOrdering::Less;
    }
    case Text:
        return a.toString() < b.toString();
    case Date:
        return a.toDateTime() < b.toDateTime();
    case Other:
        return describe(a) < describe(b);
    default:
        return false;
    }
}

qint64 saturatedDifference(qint64 hi, qint64 lo)
{
    qint64 difference = 0;
    if (__builtin_sub_overflow(hi, lo, &difference))
        return hi > lo ? std::numeric_limits<qint64>::max() : std::numeric_limits<qint64>::min();
    return difference;
}

} // namespace detail

} // namespace kestrum

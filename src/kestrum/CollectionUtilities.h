#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <algorithm>
#include <concepts>
#include <functional>
#include <limits>
#include <optional>
#include <type_traits>

// List conveniences that Qt's containers lack. They work on any QList
// (QStringList and QVariantList included), return new lists and never fail:
// an index out of range gives an empty result, never a crash.
namespace kestrum {

namespace detail {

template<typename T>
struct IsOptional : std::false_type {};
template<typename T>
struct IsOptional<std::optional<T>> : std::true_type {};

// A record's field: a map's value, a QVariant holding a map, or any type
// with value(key) such as a package record. Absent fields are invalid. The
// key "id" of an element that is no record is the element itself, so that
// texts and numbers sort and filter by their own value.
template<typename T>
QVariant fieldValue(const T &element, const QString &key)
{
    if constexpr (std::is_same_v<T, QVariant>) {
        if (element.typeId() != QMetaType::QVariantMap && key == QLatin1String("id"))
            return element;
        return element.toMap().value(key);
    } else if constexpr (requires { { element.value(key) } -> std::convertible_to<QVariant>; }) {
        return QVariant(element.value(key));
    } else if constexpr (std::is_constructible_v<QVariant, const T &>) {
        return key == QLatin1String("id") ? QVariant(element) : QVariant();
    } else {
        static_assert(!sizeof(T), "the elements must be records, maps or values");
    }
}

// The value at a dotted key path: the first part read from the element, the
// rest descending through nested maps.
template<typename T>
QVariant fieldValueAtPath(const T &element, const QString &keyPath)
{
    const QStringList parts = keyPath.split(QLatin1Char('.'));
    QVariant value = fieldValue(element, parts.first());
    for (qsizetype i = 1; i < parts.size(); ++i)
        value = value.toMap().value(parts.at(i));
    return value;
}

// A total order over values of mixed kinds, so that sorting never meets an
// inconsistent comparison: absent, numbers, NaN, texts, dates, the rest.
bool variantLessThan(const QVariant &a, const QVariant &b);

// hi - lo for the extents, saturating instead of overflowing.
qint64 saturatedDifference(qint64 hi, qint64 lo);

} // namespace detail

// Nested lists (QVariantList or QStringList values) expanded depth-first in place, to any depth.
QVariantList flattenedArray(const QVariantList &array);

// The function's results in order; an absent result (nullopt, an invalid QVariant, a null pointer) is left out.
template<typename List, typename F>
auto mapped(const List &list, F &&f)
{
    using R = std::decay_t<std::invoke_result_t<F &, const typename List::value_type &>>;
    if constexpr (detail::IsOptional<R>::value) {
        QList<typename R::value_type> out;
        for (const auto &element : list) {
            if (auto result = f(element))
                out.append(std::move(*result));
        }
        return out;
    } else {
        QList<R> out;
        out.reserve(list.size());
        for (const auto &element : list) {
            R result = f(element);
            if constexpr (std::is_same_v<R, QVariant>) {
                if (!result.isValid())
                    continue;
            } else if constexpr (std::is_pointer_v<R>) {
                if (!result)
                    continue;
            }
            out.append(std::move(result));
        }
        return out;
    }
}

// The sum, as 64 bits, of the function's 32-bit results; 0 for an empty list.
template<typename List, typename F>
qint64 reduce(const List &list, F &&f)
{
    qint64 sum = 0;
    for (const auto &element : list)
        sum += static_cast<qint32>(f(element));
    return sum;
}

// The elements for which the predicate is true, in order.
template<typename List, typename F>
List filtered(const List &list, F &&predicate)
{
    List out;
    for (const auto &element : list) {
        if (predicate(element))
            out.append(element);
    }
    return out;
}

// The element at `index`, or nullopt when the index is not below the count.
template<typename T>
std::optional<T> safeObjectAtIndex(const QList<T> &list, quint64 index)
{
    if (index >= quint64(list.size()))
        return std::nullopt;
    return list.at(qsizetype(index));
}

// The element at `index` as text, or "" when the index is not below the count.
template<typename T>
QString safeStringAtIndex(const QList<T> &list, quint64 index)
{
    if (index >= quint64(list.size()))
        return QString();
    if constexpr (std::is_same_v<T, QString>)
        return list.at(qsizetype(index));
    else
        return QVariant(list.at(qsizetype(index))).toString();
}

// The list with `object` appended unless an equal element is already present.
template<typename T>
QList<T> arrayByAddingNewObject(const QList<T> &list, const T &object)
{
    QList<T> out = list;
    if (!out.contains(object))
        out.append(object);
    return out;
}

// Without every element identical to `object`: the same pointer for lists of pointers; values have no identity, so equal ones go.
template<typename T>
QList<T> arrayByRemovingObjectIdenticalTo(const QList<T> &list, const T &object)
{
    QList<T> out = list;
    out.removeAll(object);
    return out;
}

// Removes the element at `from` and inserts it at `to`, or appends it when `to` is not below the new count; a bad `from` changes nothing.
template<typename T>
void moveObjectAtIndex(QList<T> &list, quint64 from, quint64 to)
{
    if (from >= quint64(list.size()))
        return;
    T element = list.takeAt(qsizetype(from));
    if (to >= quint64(list.size()))
        list.append(std::move(element));
    else
        list.insert(qsizetype(to), std::move(element));
}

// The minimum, maximum and their difference of a list's values.
struct Extents
{
    qint64 minimum = std::numeric_limits<qint32>::max();
    qint64 maximum = std::numeric_limits<qint32>::min();
    qint64 difference = -1;
    friend bool operator==(const Extents &, const Extents &) = default;
};

// Two signed 64-bit coordinates.
struct Int64Point
{
    qint64 x = 0;
    qint64 y = 0;
    friend bool operator==(const Int64Point &, const Int64Point &) = default;
};

// Per coordinate the minimum, the maximum and their difference.
struct PointExtents
{
    Int64Point minimum{std::numeric_limits<qint32>::max(), std::numeric_limits<qint32>::max()};
    Int64Point maximum{std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::min()};
    Int64Point difference{-1, -1};
    friend bool operator==(const PointExtents &, const PointExtents &) = default;
};

// Removes the first element the test accepts (QList::removeIf takes every one); false when none.
template<typename T, typename F>
bool removeObjectPassingTest(QList<T> &list, F &&test)
{
    const auto found = std::find_if(list.cbegin(), list.cend(), test);
    if (found == list.cend())
        return false;
    list.removeAt(found - list.cbegin());
    return true;
}

// Extents of the function's 32-bit results; empty: minimum 2147483647, maximum -2147483648, difference -1.
template<typename List, typename F>
Extents calculateExtentsOfValues(const List &list, F &&f)
{
    Extents extents;
    if (list.isEmpty())
        return extents;
    for (const auto &element : list) {
        const qint64 value = static_cast<qint32>(f(element));
        extents.minimum = std::min(extents.minimum, value);
        extents.maximum = std::max(extents.maximum, value);
    }
    extents.difference = extents.maximum - extents.minimum;
    return extents;
}

// Extents of the function's Int64Point results per coordinate, from the same sentinels (so a coordinate above 2147483647 never lowers the minimum); empty: differences -1.
template<typename List, typename F>
PointExtents calculateExtentsOfPoints(const List &list, F &&f)
{
    PointExtents extents;
    if (list.isEmpty())
        return extents;
    for (const auto &element : list) {
        const Int64Point point = f(element);
        extents.minimum = {std::min(extents.minimum.x, point.x), std::min(extents.minimum.y, point.y)};
        extents.maximum = {std::max(extents.maximum.x, point.x), std::max(extents.maximum.y, point.y)};
    }
    extents.difference = {detail::saturatedDifference(extents.maximum.x, extents.minimum.x),
                          detail::saturatedDifference(extents.maximum.y, extents.minimum.y)};
    return extents;
}

// Whether some record's value for `key` equals `value` (an absent field never does); stops at the first.
template<typename List>
bool containsDictionaryWithKey(const List &list, const QString &key, const QVariant &value)
{
    return std::any_of(list.cbegin(), list.cend(), [&](const auto &element) {
        const QVariant field = detail::fieldValue(element, key);
        return field.isValid() && field == value;
    });
}

// Records sorted by the value at a dotted key path (absent values first when ascending); equal values keep their order.
template<typename List>
List sortedArrayByKey(const List &list, const QString &keyPath, bool ascending = true)
{
    List out = list;
    std::stable_sort(out.begin(), out.end(), [&](const auto &a, const auto &b) {
        const QVariant left = detail::fieldValueAtPath(a, keyPath);
        const QVariant right = detail::fieldValueAtPath(b, keyPath);
        return ascending ? detail::variantLessThan(left, right) : detail::variantLessThan(right, left);
    });
    return out;
}

// The elements from `index` to the end; empty when the index is past the count.
template<typename T>
QList<T> subarrayFromIndex(const QList<T> &list, quint64 index)
{
    if (index >= quint64(list.size()))
        return {};
    return list.mid(qsizetype(index));
}

// The elements before `index` (all of them when the index is past the count), so that to + from give the list back.
template<typename T>
QList<T> subarrayToIndex(const QList<T> &list, quint64 index)
{
    return list.first(qsizetype(std::min(index, quint64(list.size()))));
}

} // namespace kestrum

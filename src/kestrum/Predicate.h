#pragma once

#include "kestrum/CollectionUtilities.h"
#include "kestrum/Format.h"

#include <QString>
#include <QVariant>

#include <initializer_list>

namespace kestrum {

// A filter made from a predicate format and its arguments, as
// makePredicate("self BEGINSWITH[cd] %@", name). The forms understood: an
// optional NOT, then SELF, %K (a key path given as an argument) or a key
// path, then BEGINSWITH, ENDSWITH, CONTAINS, == or != with the modifiers [c]
// (ignore case) and [d] (ignore diacritics), then %@. Any other format makes
// an invalid predicate, which nothing satisfies.
class Predicate
{
public:
    Predicate(const char *format, std::initializer_list<FormatArg> args);

    bool isValid() const { return m_valid; }
    // Whether the value (or the record's field at the key path) satisfies the
    // comparison. Texts compare as texts; an absent or non-text value begins
    // with, ends with and contains nothing, and equals only what is equal.
    bool operator()(const QVariant &element) const;

private:
    enum Operator { BeginsWith, EndsWith, Contains, Equal, NotEqual };

    bool m_valid = false;
    bool m_negated = false;
    bool m_caseless = false;
    bool m_diacriticless = false;
    Operator m_operator = Equal;
    QString m_keyPath;   // empty for SELF
    QVariant m_argument;
};

template<typename... Args>
Predicate makePredicate(const char *format, const Args &...args)
{
    return Predicate(format, {FormatArg(args)...});
}

// The elements that satisfy the predicate the format and arguments make.
template<typename List, typename... Args>
List filteredUsingPredicateString(const List &list, const char *format, const Args &...args)
{
    const Predicate predicate = makePredicate(format, args...);
    return filtered(list, [&](const auto &element) { return predicate(QVariant::fromValue(element)); });
}

// Keeps only the elements that satisfy the predicate.
template<typename List, typename... Args>
void filterUsingPredicateString(List &list, const char *format, const Args &...args)
{
    const Predicate predicate = makePredicate(format, args...);
    list.removeIf([&](const auto &element) { return !predicate(QVariant::fromValue(element)); });
}

} // namespace kestrum

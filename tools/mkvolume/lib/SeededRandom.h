#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

namespace volumegen {

// A small generator whose sequence depends on the seed alone (splitmix64),
// unlike the standard library's distributions, whose results may differ
// between library versions. Volumes must come out byte for byte the same
// for the same seed, wherever they are built.
class SeededRandom
{
public:
    explicit SeededRandom(quint64 seed) : m_state(seed) {}

    quint64 next();
    // Uniform in [0, bound); 0 when bound is 0.
    quint32 below(quint32 bound);
    // Uniform in [low, high], both included.
    qint64 between(qint64 low, qint64 high);
    // Uniform in [0, 1).
    double unit();
    bool chance(double probability) { return unit() < probability; }
    // Spread evenly over the orders of magnitude between low and high, as
    // file sizes are.
    quint64 logUniform(quint64 low, quint64 high);

    template<typename T>
    const T &pick(const QList<T> &list) { return list.at(below(quint32(list.size()))); }

    // A value that depends only on the text, for sizes that must not change
    // when unrelated items are added before it.
    static quint64 hash(const QString &text);

private:
    quint64 m_state;
};

} // namespace volumegen

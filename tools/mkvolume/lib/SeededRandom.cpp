#include "SeededRandom.h"

#include <QtAlgorithms>

namespace volumegen {

quint64 SeededRandom::next()
{
    quint64 z = (m_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

quint32 SeededRandom::below(quint32 bound)
{
    // Multiply-shift: the bias is below 2^-32, and the result is the same on
    // every platform.
    return quint32(((next() >> 32) * quint64(bound)) >> 32);
}

qint64 SeededRandom::between(qint64 low, qint64 high)
{
    if (high <= low)
        return low;
    const quint64 span = quint64(high - low) + 1;
    return low + qint64(span <= 0xFFFFFFFFull ? below(quint32(span)) : next() % span);
}

double SeededRandom::unit()
{
    return double(next() >> 11) * (1.0 / 9007199254740992.0);   // 53 bits
}

quint64 SeededRandom::logUniform(quint64 low, quint64 high)
{
    // Integers only, so that no floating-point library can change a size:
    // an octave first, then a value inside it.
    if (low == 0)
        low = 1;
    if (high <= low)
        return low;
    const int lowBits = 63 - qCountLeadingZeroBits(low);
    const int highBits = 63 - qCountLeadingZeroBits(high);
    const int octave = int(between(lowBits, highBits));
    const quint64 from = qMax(low, quint64(1) << octave);
    const quint64 to = octave >= 63 ? high : qMin(high, (quint64(1) << (octave + 1)) - 1);
    return from + (to > from ? next() % (to - from + 1) : 0);
}

quint64 SeededRandom::hash(const QString &text)
{
    quint64 h = 0xCBF29CE484222325ull;   // FNV-1a
    for (QChar c : text) {
        h ^= c.unicode();
        h *= 0x100000001B3ull;
    }
    return h;
}

} // namespace volumegen

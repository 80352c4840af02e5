#pragma once

#include <QtGlobal>

namespace artwork {

// A small random source with a fixed algorithm (splitmix64), so that drawing
// the pictures again gives the same files on every library and machine.
class TSeededRandom {
public:
    explicit TSeededRandom(quint64 Seed);

    quint64 next();
    // A number in [0, 1).
    double uniform();
    // A number in [Low, High).
    double range(double Low, double High);

private:
    quint64 m_State;
};

} // namespace artwork

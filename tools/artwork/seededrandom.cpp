#include "seededrandom.h"

namespace artwork {

TSeededRandom::TSeededRandom(quint64 Seed)
    : m_State(Seed) {}

quint64 TSeededRandom::next() {
    m_State += 0x9E3779B97F4A7C15ULL;
    quint64 z = m_State;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

double TSeededRandom::uniform() {
    // 53 random bits make every double in [0, 1) on the grid of 2^-53.
    return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0);
}

double TSeededRandom::range(double Low, double High) {
    return Low + (High - Low) * uniform();
}

} // namespace artwork

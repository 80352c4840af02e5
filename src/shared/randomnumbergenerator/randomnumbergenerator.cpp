#include "shared/randomnumbergenerator/randomnumbergenerator.h"

#include <QMutexLocker>

#include <limits>

namespace shared {

std::shared_ptr<TRandomNumberGenerator> TRandomNumberGenerator::instance() {
    struct TProcessGenerator : TRandomNumberGenerator {
        TProcessGenerator()
            : TRandomNumberGenerator(std::random_device()()) {}
    };
    static const std::shared_ptr<TRandomNumberGenerator> generator = std::make_shared<TProcessGenerator>();
    return generator;
}

TRandomNumberGenerator::TRandomNumberGenerator(std::uint32_t seed)
    : m_engine(seed) {}

TRandomNumberGenerator::~TRandomNumberGenerator() = default;

quint64 TRandomNumberGenerator::uniformUnsigned(quint64 Min, quint64 Max) {
    Q_ASSERT(Min <= Max);
    if (Min > Max)
        return Min;
    // One generator serves the whole process, and nothing ties its callers to one thread.
    QMutexLocker lock(&m_mutex);
    if (Min == 0 && Max == std::numeric_limits<quint64>::max())
        return fullRange();
    return std::uniform_int_distribution<quint64>(Min, Max)(m_engine);
}

qint64 TRandomNumberGenerator::uniformSigned(qint64 Min, qint64 Max) {
    Q_ASSERT(Min <= Max);
    if (Min > Max)
        return Min;
    // Shift the range to start at zero; unsigned arithmetic wraps as intended.
    const quint64 width = quint64(Max) - quint64(Min);
    return qint64(quint64(Min) + uniformUnsigned(0, width));
}

quint64 TRandomNumberGenerator::fullRange() {
    // Two 32-bit outputs, high word first.
    const quint64 high = m_engine();
    const quint64 low = m_engine();
    return (high << 32) | low;
}

} // namespace shared

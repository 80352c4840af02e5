#pragma once

#include <QMutex>
#include <QtGlobal>

#include <cstdint>
#include <memory>
#include <random>

namespace shared {

// The process's source of non-cryptographic randomness: a Mersenne Twister
// seeded once from the system's random device.
class TRandomNumberGenerator {
public:
    // The one instance, created on first use.
    static std::shared_ptr<TRandomNumberGenerator> instance();

    virtual ~TRandomNumberGenerator();
    TRandomNumberGenerator(const TRandomNumberGenerator&) = delete;
    TRandomNumberGenerator& operator=(const TRandomNumberGenerator&) = delete;

    // Uniform over [Min, Max], both ends included.
    virtual quint64 uniformUnsigned(quint64 Min, quint64 Max);
    virtual qint64 uniformSigned(qint64 Min, qint64 Max);

protected:
    explicit TRandomNumberGenerator(std::uint32_t seed);

private:
    quint64 fullRange();

    QMutex m_mutex;
    std::mt19937 m_engine;
};

} // namespace shared

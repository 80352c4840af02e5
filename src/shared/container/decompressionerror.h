#pragma once

#include <QString>

#include <stdexcept>

namespace shared {

// A container that claims to be compressed but cannot be decoded.
class TDecompressionError : public std::runtime_error {
public:
    explicit TDecompressionError(const QString& message);
    explicit TDecompressionError(const char* message);
};

} // namespace shared

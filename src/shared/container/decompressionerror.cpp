#include "shared/container/decompressionerror.h"

namespace shared {

TDecompressionError::TDecompressionError(const QString& message)
    : std::runtime_error(message.toStdString()) {}

TDecompressionError::TDecompressionError(const char* message)
    : std::runtime_error(message) {}

} // namespace shared

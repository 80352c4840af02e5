#pragma once

#include <QByteArray>

namespace shared {

// Encodes data as the payload of the given method (stored, DEFLATE, lzip or
// LZMA). Throws std::invalid_argument for a method without an encoder and
// std::runtime_error when the library fails.
QByteArray encodePayload(int method, const QByteArray& data);

} // namespace shared

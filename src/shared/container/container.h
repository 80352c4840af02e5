#pragma once

#include <QByteArray>

#include <string>

namespace shared {

// Method ids of the compressed container. Only some of them can be decoded
// here; the others are admitted by the header but fail to decode.
enum ECompressionMethod : int {
    CompressionStored = 0,
    CompressionDeflate = 3,
    CompressionLzip = 4,
    CompressionLzma = 5,
    CompressionZpaq = 6,
    CompressionLzmaAlternative = 10,
    CompressionCsc = 14,
    CompressionCrush = 21
};

// Strict: input that is not a container comes back as it is; a container is
// decoded, and one that cannot be decoded throws TDecompressionError
// "Invalid input data could not be decompressed".
QByteArray decompress(const QByteArray& input);
// As above, but a container is decoded into buffer's memory when it has room enough (a buffer
// taken from a shared::TBufferPool, say), so that a stream of chunks reuses its allocations.
QByteArray decompress(const QByteArray& input, QByteArray&& buffer);

// Lenient: true and the decoded bytes for a container that decodes; in every
// other case false and a copy of the input.
bool unpack(std::string& output, const std::string& input);
bool unpack(QByteArray& output, const QByteArray& input);

// Wraps data into a container of the given method (stored, DEFLATE, lzip or
// LZMA). Empty data has no container (one of length 0 never decodes), so it
// comes back empty, which decodes to itself. Throws std::invalid_argument for
// a method that cannot be encoded.
QByteArray compress(int method, const QByteArray& data);

} // namespace shared

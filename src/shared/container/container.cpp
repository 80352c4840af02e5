#include "shared/container/container.h"

#include "shared/container/containerheader.h"
#include "shared/container/decompressionerror.h"
#include "shared/container/payloaddecoder.h"
#include "shared/container/payloadencoder.h"

#include <algorithm>
#include <limits>
#include <new>

namespace shared {

namespace {

const char* const InvalidInputText = "Invalid input data could not be decompressed";

// The unpacked length comes from the sender. Whatever it claims, the output
// must fit a QByteArray; a claim beyond that is a failed decode, and so is a
// claim the allocator refuses.
constexpr std::uint64_t MaxDecodedSize = std::numeric_limits<int>::max() - 64;

enum class EDecodeResult { NotAContainer, Decoded, Failed };

// Decodes into one buffer of the announced size, without filling it first:
// the decoder writes each byte once, and the output is cut to what it produced.
// An output whose reserved room is large enough is decoded into as it is.
EDecodeResult decodeContainer(const QByteArray& input, QByteArray& output) {
    TContainerHeader header;
    switch (readContainerHeader(input.constData(), static_cast<std::size_t>(input.size()), header)) {
    case EContainerHeaderStatus::NotAContainer:
        return EDecodeResult::NotAContainer;
    case EContainerHeaderStatus::Malformed:
        return EDecodeResult::Failed;
    case EContainerHeaderStatus::Valid:
        break;
    }
    if (header.unpackedLength == 0 || header.packedLength == 0 || !isDecodableMethod(header.method) ||
        header.unpackedLength > MaxDecodedSize)
        return EDecodeResult::Failed;

    const auto packedLength = static_cast<std::size_t>(header.packedLength);
    const auto capacity = static_cast<std::size_t>(
        std::min<std::uint64_t>(header.unpackedLength, largestPossibleOutput(header.method, packedLength)));
    const bool reused = output.isDetached() && static_cast<std::size_t>(output.capacity()) >= capacity;
    try {
        if (reused)
            output.resize(static_cast<int>(capacity));
        else
            output = QByteArray(static_cast<int>(capacity), Qt::Uninitialized);
    } catch (const std::bad_alloc&) {
        return EDecodeResult::Failed;
    }
    std::size_t produced = 0;
    if (!decodePayload(header.method, input.constData() + header.payloadOffset, packedLength, output.data(),
                       capacity, produced)) {
        output = QByteArray();
        return EDecodeResult::Failed;
    }
    // A header that announced more than the stream held would otherwise leave
    // a large, mostly unused buffer behind.
    if (produced != capacity && reused)
        output.resize(static_cast<int>(produced));
    else if (produced != capacity)
        output = QByteArray(output.constData(), static_cast<int>(produced));
    return EDecodeResult::Decoded;
}

} // namespace

QByteArray decompress(const QByteArray& input) {
    return decompress(input, QByteArray());
}

QByteArray decompress(const QByteArray& input, QByteArray&& buffer) {
    QByteArray output = std::move(buffer);
    switch (decodeContainer(input, output)) {
    case EDecodeResult::NotAContainer:
        return input;
    case EDecodeResult::Decoded:
        return output;
    case EDecodeResult::Failed:
        break;
    }
    throw TDecompressionError(InvalidInputText);
}

bool unpack(QByteArray& output, const QByteArray& input) {
    QByteArray decoded;
    if (decodeContainer(input, decoded) == EDecodeResult::Decoded) {
        output = decoded;
        return true;
    }
    output = input;
    return false;
}

bool unpack(std::string& output, const std::string& input) {
    // A std::string cannot be sized without filling it, so the bytes are
    // decoded into an unfilled buffer first; a header that lies about its
    // length then costs address space only, not memory.
    if (input.size() <= static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        QByteArray decoded;
        if (decodeContainer(QByteArray::fromRawData(input.data(), static_cast<int>(input.size())), decoded) ==
            EDecodeResult::Decoded) {
            output.assign(decoded.constData(), static_cast<std::size_t>(decoded.size()));
            return true;
        }
    }
    output = input;
    return false;
}

QByteArray compress(int method, const QByteArray& data) {
    // Throws for a method without an encoder, empty data or not.
    const QByteArray payload = encodePayload(method, data);
    if (data.isEmpty())
        return QByteArray();
    QByteArray container;
    container.reserve(payload.size() + 2 + 2 * MaxVarintBytes);
    appendContainerHeader(container, method, static_cast<std::uint64_t>(data.size()),
                          static_cast<std::uint64_t>(payload.size()));
    container.append(payload);
    return container;
}

} // namespace shared

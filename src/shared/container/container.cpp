#include "shared/container/container.h"

#include "shared/container/containerheader.h"
#include "shared/container/decompressionerror.h"
#include "shared/container/payloaddecoder.h"
#include "shared/container/payloadencoder.h"

#include <limits>
#include <new>
#include <stdexcept>

namespace shared {

namespace {

const char* const InvalidInputText = "Invalid input data could not be decompressed";

// The unpacked length comes from the sender. Whatever it claims, the output
// must fit a QByteArray; a claim beyond that is a failed decode, and so is a
// claim the allocator refuses.
constexpr std::uint64_t MaxDecodedSize = std::numeric_limits<int>::max() - 64;

enum class EDecodeResult { NotAContainer, Decoded, Failed };

char* writableData(QByteArray& buffer) {
    return buffer.data();
}
char* writableData(std::string& buffer) {
    return &buffer[0];
}

void allocate(QByteArray& buffer, std::size_t size) {
    buffer = QByteArray(static_cast<int>(size), Qt::Uninitialized);
}

void allocate(std::string& buffer, std::size_t size) {
    buffer.resize(size);
}

// A header that announced more than the stream held leaves a large, mostly
// unused buffer behind; hand back only what was produced.
void cutTo(QByteArray& buffer, std::size_t produced) {
    if (produced != static_cast<std::size_t>(buffer.size()))
        buffer = QByteArray(buffer.constData(), static_cast<int>(produced));
}

void cutTo(std::string& buffer, std::size_t produced) {
    if (produced != buffer.size()) {
        buffer.resize(produced);
        buffer.shrink_to_fit();
    }
}

template <typename TBuffer>
EDecodeResult decodeContainer(const char* data, std::size_t size, TBuffer& output) {
    TContainerHeader header;
    switch (readContainerHeader(data, size, header)) {
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

    const auto capacity = static_cast<std::size_t>(header.unpackedLength);
    try {
        allocate(output, capacity);
    } catch (const std::bad_alloc&) {
        return EDecodeResult::Failed;
    } catch (const std::length_error&) {
        return EDecodeResult::Failed;
    }
    std::size_t produced = 0;
    if (!decodePayload(header.method, data + header.payloadOffset,
                       static_cast<std::size_t>(header.packedLength), writableData(output), capacity,
                       produced)) {
        output = TBuffer();
        return EDecodeResult::Failed;
    }
    cutTo(output, produced);
    return EDecodeResult::Decoded;
}

} // namespace

QByteArray decompress(const QByteArray& input) {
    QByteArray output;
    switch (decodeContainer(input.constData(), static_cast<std::size_t>(input.size()), output)) {
    case EDecodeResult::NotAContainer:
        return input;
    case EDecodeResult::Decoded:
        return output;
    case EDecodeResult::Failed:
        break;
    }
    throw TDecompressionError(InvalidInputText);
}

bool unpack(std::string& output, const std::string& input) {
    std::string decoded;
    if (decodeContainer(input.data(), input.size(), decoded) == EDecodeResult::Decoded) {
        output = std::move(decoded);
        return true;
    }
    output = input;
    return false;
}

bool unpack(QByteArray& output, const QByteArray& input) {
    QByteArray decoded;
    if (decodeContainer(input.constData(), static_cast<std::size_t>(input.size()), decoded) ==
        EDecodeResult::Decoded) {
        output = decoded;
        return true;
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

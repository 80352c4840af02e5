#include "shared/container/containerheader.h"

namespace shared {

namespace {

constexpr unsigned char Magic = 0x70;

// Reads one varint from [position, end). Fails when the input ends inside it,
// when it runs past 10 bytes, or when its value does not fit in 64 bits.
bool readVarint(const unsigned char*& position, const unsigned char* end, std::uint64_t& value) {
    value = 0;
    for (int index = 0; index < MaxVarintBytes; ++index) {
        if (position == end)
            return false;
        const unsigned char byte = *position++;
        const int shift = 7 * index;
        const std::uint64_t group = byte & 0x7Fu;
        if (shift == 63 && group > 1)
            return false;
        value |= group << shift;
        if ((byte & 0x80u) == 0)
            return true;
    }
    return false;
}

} // namespace

EContainerHeaderStatus readContainerHeader(const char* data, std::size_t size, TContainerHeader& header) {
    const auto* position = reinterpret_cast<const unsigned char*>(data);
    const unsigned char* const end = position + size;
    while (position != end && *position == 0)
        ++position;
    if (end - position < 2 || position[0] != Magic || position[1] > MaxContainerMethodId)
        return EContainerHeaderStatus::NotAContainer;
    header.method = position[1];
    position += 2;
    if (!readVarint(position, end, header.unpackedLength) || !readVarint(position, end, header.packedLength))
        return EContainerHeaderStatus::Malformed;
    const auto remaining = static_cast<std::uint64_t>(end - position);
    if (header.packedLength > remaining)
        return EContainerHeaderStatus::Malformed;
    header.payloadOffset = static_cast<std::size_t>(position - reinterpret_cast<const unsigned char*>(data));
    return EContainerHeaderStatus::Valid;
}

void appendVarint(QByteArray& output, std::uint64_t value) {
    while (value >= 0x80u) {
        output.append(static_cast<char>((value & 0x7Fu) | 0x80u));
        value >>= 7;
    }
    output.append(static_cast<char>(value));
}

void appendContainerHeader(QByteArray& output, int method, std::uint64_t unpackedLength,
                           std::uint64_t packedLength) {
    output.append(static_cast<char>(Magic));
    output.append(static_cast<char>(method));
    appendVarint(output, unpackedLength);
    appendVarint(output, packedLength);
}

} // namespace shared

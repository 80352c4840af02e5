#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>

namespace shared {

// The header in front of a compressed payload:
//   any number of 0x00 bytes, 'p', method id (0..23),
//   unpacked length and packed length as base-128 varints (low group first,
//   at most 10 bytes each), then the payload of packed length bytes.
struct TContainerHeader {
    int method = 0;
    std::uint64_t unpackedLength = 0;
    std::uint64_t packedLength = 0;
    std::size_t payloadOffset = 0;
};

enum class EContainerHeaderStatus {
    // The input does not start like a container and stands for itself.
    NotAContainer,
    // It starts like one, but its lengths are unreadable or claim more
    // payload than the input holds.
    Malformed,
    Valid
};

constexpr int MaxContainerMethodId = 23;
constexpr int MaxVarintBytes = 10;

// Pure: looks only at data[0..size) and never beyond it.
EContainerHeaderStatus readContainerHeader(const char* data, std::size_t size, TContainerHeader& header);

void appendVarint(QByteArray& output, std::uint64_t value);
void appendContainerHeader(QByteArray& output, int method, std::uint64_t unpackedLength,
                           std::uint64_t packedLength);

} // namespace shared

#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace mirrel::launcher {

// Receives one chunk: a pointer to its first byte and its length. The pointer is
// only valid during the call.
using TChunkCallback = std::function<void(unsigned char* ChunkData, std::uint64_t ChunkLength)>;

// The chunk boundaries are shared with the content server byte for byte: every
// value below is part of that format and must not be tuned.
namespace chunking {
constexpr std::uint64_t AverageSize = 8388608;
constexpr std::uint64_t MinimumSize = 4194304;
constexpr std::uint64_t NormalPoint = 2097152;
constexpr std::uint64_t MaximumSize = 16777216;
constexpr std::uint64_t ReadBlockSize = 134217728;
constexpr std::uint64_t BufferSize = MaximumSize + ReadBlockSize;
} // namespace chunking

// round(log2(AverageSize)); throws std::invalid_argument outside 8..28 bits.
int chunkMaskBits(std::uint64_t AverageSize);

// The gear table of the rolling hash (256 entries, indexed by byte value).
const std::uint32_t* chunkGearTable();

// The cut rule: the length of the chunk that starts at Data, given that
// Available bytes remain in the file from there (only the first
// min(Available, MaximumSize) of them are looked at).
std::uint64_t findChunkLength(const unsigned char* Data, std::uint64_t Available);

// Cuts the file at Path into content-defined chunks and calls Callback once per
// chunk, in file order, on the calling thread. A file that cannot be opened
// yields no chunk; a read error ends the file early.
void chunkFile(const std::string& Path, const TChunkCallback& Callback);

} // namespace mirrel::launcher

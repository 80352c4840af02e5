#pragma once

#include "platform/mirroredbuffer.h"

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
// The chunker's ring buffer (the window and room to read ahead) and the most
// one read call asks for; neither moves a cut.
constexpr std::uint64_t BufferSize = 2 * MaximumSize;
constexpr std::uint64_t ReadBlockSize = 25165824;
} // namespace chunking

// round(log2(AverageSize)); throws std::invalid_argument outside 8..28 bits.
int chunkMaskBits(std::uint64_t AverageSize);

// The gear table of the rolling hash (256 entries, indexed by byte value).
const std::uint32_t* chunkGearTable();

// The cut rule: the length of the chunk that starts at Data, given that
// Available bytes remain in the file from there (only the first
// min(Available, MaximumSize) of them are looked at).
std::uint64_t findChunkLength(const unsigned char* Data, std::uint64_t Available);

// Cuts files into content-defined chunks with one buffer of BufferSize bytes,
// taken once and reused for every file: a worker that goes through many files
// keeps one chunker.
class TChunker {
public:
    TChunker();

    // Calls Callback once per chunk of the file at Path, in file order, on the
    // calling thread. A file that cannot be opened yields no chunk; a read
    // error ends the file early.
    void chunkFile(const std::string& Path, const TChunkCallback& Callback);

private:
    platform::TMirroredBuffer m_Buffer;
};

// One file with a chunker of its own.
void chunkFile(const std::string& Path, const TChunkCallback& Callback);

} // namespace mirrel::launcher

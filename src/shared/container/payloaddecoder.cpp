#include "shared/container/payloaddecoder.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

#include <lzlib.h>
#include <lzma.h>
#include <zlib.h>

namespace shared {

namespace {

enum EMethodId { Stored = 0, Deflate = 3, Lzip = 4, Lzma = 5, LzmaAlternative = 10 };

// The LZMA payload starts with 5 property bytes and 8 bytes the decoder
// does not need (a length field of the classic ".lzma" layout).
constexpr std::size_t LzmaPropertiesSize = 5;
constexpr std::size_t LzmaHeaderSize = 13;

constexpr std::size_t DeflateMaximumRatio = 1032;
constexpr std::size_t ZlibSlice = std::size_t(1) << 30;

bool decodeStored(const char* payload, std::size_t packedLength, char* output, std::size_t capacity,
                  std::size_t& produced) {
    if (packedLength > capacity)
        return false;
    std::memcpy(output, payload, packedLength);
    produced = packedLength;
    return true;
}

struct TInflateEnd {
    void operator()(z_stream* stream) const { inflateEnd(stream); }
};

// zlib counts in 32 bits; the pointers advance by themselves, so a larger
// buffer is simply handed over in slices.
uInt nextSlice(std::size_t& left) {
    const std::size_t slice = std::min(left, ZlibSlice);
    left -= slice;
    return static_cast<uInt>(slice);
}

bool decodeDeflate(const char* payload, std::size_t packedLength, char* output, std::size_t capacity,
                   std::size_t& produced) {
    z_stream stream{};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK)
        return false;
    std::unique_ptr<z_stream, TInflateEnd> guard(&stream);

    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(payload));
    stream.next_out = reinterpret_cast<Bytef*>(output);
    std::size_t inLeft = packedLength;
    std::size_t outLeft = capacity;
    int status = Z_OK;
    while (status == Z_OK) {
        if (stream.avail_in == 0)
            stream.avail_in = nextSlice(inLeft);
        if (stream.avail_out == 0)
            stream.avail_out = nextSlice(outLeft);
        // With everything handed over, Z_FINISH spares zlib keeping a copy of
        // its window. Ends in Z_BUF_ERROR when either side runs dry before the
        // stream ends.
        status = inflate(&stream, inLeft == 0 && outLeft == 0 ? Z_FINISH : Z_NO_FLUSH);
    }
    produced = static_cast<std::size_t>(reinterpret_cast<char*>(stream.next_out) - output);
    return status == Z_STREAM_END;
}

struct TLzipDecoderClose {
    void operator()(LZ_Decoder* decoder) const { LZ_decompress_close(decoder); }
};

int clampToInt(std::size_t value) {
    return static_cast<int>(std::min<std::size_t>(value, INT_MAX));
}

// The lzip member layout: "LZIP", version 1, the coded dictionary size, the LZMA stream, and a
// trailer of the data's CRC-32, the data size and the member size (little-endian).
constexpr std::size_t LzipHeaderSize = 6;
constexpr std::size_t LzipTrailerSize = 20;
// lzip's default dictionary; any member a standard encoder makes for the output fits it.
constexpr std::uint64_t LzipDictionaryFloor = std::uint64_t(8) << 20;

std::uint64_t readLittleEndian64(const std::uint8_t* bytes) {
    std::uint64_t value = 0;
    for (int index = 7; index >= 0; --index)
        value = (value << 8) | bytes[index];
    return value;
}

// 0 for a coding outside lzip's range of 4 KiB to 512 MiB.
std::uint64_t lzipDictionarySize(std::uint8_t coded) {
    const unsigned exponent = coded & 0x1F;
    if (exponent < 12 || exponent > 29)
        return 0;
    const std::uint64_t base = std::uint64_t(1) << exponent;
    return base - (base / 16) * ((coded >> 5) & 7);
}

// lzlib allocates each member's dictionary as announced and decodes ahead into it, whatever is
// read out; both the announcement and the sizes are the sender's. So every member is checked
// first, walking back from the end through the member sizes of the trailers: a dictionary the
// output cannot need, or data sizes that add up beyond the output, refuse the payload before
// anything is decoded.
bool lzipMembersFit(const std::uint8_t* payload, std::size_t packedLength, std::size_t capacity) {
    const std::uint64_t dictionaryLimit = std::max<std::uint64_t>(capacity, LzipDictionaryFloor);
    std::uint64_t declared = 0;
    std::size_t end = packedLength;
    while (end > 0) {
        if (end < LzipHeaderSize + LzipTrailerSize)
            return false;
        const std::uint64_t memberSize = readLittleEndian64(payload + end - 8);
        const std::uint64_t dataSize = readLittleEndian64(payload + end - 16);
        if (memberSize < LzipHeaderSize + LzipTrailerSize || memberSize > end ||
            dataSize > capacity - declared)
            return false;
        declared += dataSize;
        const std::uint8_t* header = payload + (end - memberSize);
        const std::uint64_t dictionary = lzipDictionarySize(header[5]);
        if (std::memcmp(header, "LZIP", 4) != 0 || header[4] != 1 || dictionary == 0 ||
            dictionary > dictionaryLimit)
            return false;
        end -= static_cast<std::size_t>(memberSize);
    }
    return true;
}

bool decodeLzip(const char* payload, std::size_t packedLength, char* output, std::size_t capacity,
                std::size_t& produced) {
    if (!lzipMembersFit(reinterpret_cast<const std::uint8_t*>(payload), packedLength, capacity))
        return false;
    std::unique_ptr<LZ_Decoder, TLzipDecoderClose> decoder(LZ_decompress_open());
    if (!decoder || LZ_decompress_errno(decoder.get()) != LZ_ok)
        return false;

    const auto* input = reinterpret_cast<const uint8_t*>(payload);
    auto* target = reinterpret_cast<uint8_t*>(output);
    std::size_t inPosition = 0;
    std::size_t outPosition = 0;
    bool finishSent = false;
    for (;;) {
        bool progress = false;
        if (inPosition < packedLength) {
            const int room = LZ_decompress_write_size(decoder.get());
            if (room < 0)
                return false;
            if (room > 0) {
                const int written = LZ_decompress_write(
                    decoder.get(), input + inPosition, std::min(room, clampToInt(packedLength - inPosition)));
                if (written < 0)
                    return false;
                inPosition += static_cast<std::size_t>(written);
                progress = written > 0;
            }
        }
        if (inPosition == packedLength && !finishSent) {
            if (LZ_decompress_finish(decoder.get()) < 0)
                return false;
            finishSent = true;
            progress = true;
        }
        int read = 0;
        if (outPosition < capacity) {
            read =
                LZ_decompress_read(decoder.get(), target + outPosition, clampToInt(capacity - outPosition));
        } else {
            // The stream holds more than the header announced: the output
            // cannot take it.
            uint8_t probe = 0;
            read = LZ_decompress_read(decoder.get(), &probe, 1);
            if (read > 0)
                return false;
        }
        if (read < 0)
            return false;
        outPosition += static_cast<std::size_t>(read);
        if (LZ_decompress_finished(decoder.get()) == 1)
            break;
        if (!progress && read == 0)
            return false;
    }
    produced = outPosition;
    return true;
}

struct TLzmaEnd {
    void operator()(lzma_stream* stream) const { lzma_end(stream); }
};

bool decodeLzma(const char* payload, std::size_t packedLength, char* output, std::size_t capacity,
                std::size_t& produced) {
    if (packedLength < LzmaHeaderSize)
        return false;
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, nullptr}, {LZMA_VLI_UNKNOWN, nullptr}};
    if (lzma_properties_decode(&filters[0], nullptr, reinterpret_cast<const uint8_t*>(payload),
                               LzmaPropertiesSize) != LZMA_OK)
        return false;
    std::unique_ptr<lzma_options_lzma, decltype(&std::free)> options(
        static_cast<lzma_options_lzma*>(filters[0].options), &std::free);
    // A window larger than the whole output changes nothing in the result, so
    // an oversized dictionary in the properties never costs more memory than
    // the output itself.
    options->dict_size = static_cast<uint32_t>(
        std::max<std::uint64_t>(LZMA_DICT_SIZE_MIN, std::min<std::uint64_t>(options->dict_size, capacity)));

    lzma_stream stream = LZMA_STREAM_INIT;
    if (lzma_raw_decoder(&stream, filters) != LZMA_OK)
        return false;
    std::unique_ptr<lzma_stream, TLzmaEnd> guard(&stream);
    stream.next_in = reinterpret_cast<const uint8_t*>(payload) + LzmaHeaderSize;
    stream.avail_in = packedLength - LzmaHeaderSize;
    stream.next_out = reinterpret_cast<uint8_t*>(output);
    stream.avail_out = capacity;
    lzma_ret status = LZMA_OK;
    for (;;) {
        const std::size_t inBefore = stream.avail_in;
        const std::size_t outBefore = stream.avail_out;
        status = lzma_code(&stream, LZMA_RUN);
        if (status != LZMA_OK || stream.avail_out == 0)
            break;
        if (stream.avail_in == inBefore && stream.avail_out == outBefore)
            break;
    }
    produced = capacity - stream.avail_out;
    // The stream may end with an end marker, or simply at the announced length.
    return status == LZMA_STREAM_END || (status == LZMA_OK && stream.avail_out == 0);
}

} // namespace

bool isDecodableMethod(int method) {
    switch (method) {
    case Stored:
    case Deflate:
    case Lzip:
    case Lzma:
    case LzmaAlternative:
        return true;
    default:
        return false;
    }
}

std::size_t largestPossibleOutput(int method, std::size_t packedLength) {
    constexpr std::size_t Unbounded = std::numeric_limits<std::size_t>::max();
    switch (method) {
    case Stored:
        return packedLength;
    case Deflate:
        // A 258-byte match costs at least two bits; the slack covers the
        // stream's first and last bytes.
        return packedLength > Unbounded / DeflateMaximumRatio - 1024
                   ? Unbounded
                   : packedLength * DeflateMaximumRatio + 1024;
    default:
        return Unbounded;
    }
}

bool decodePayload(int method, const char* payload, std::size_t packedLength, char* output,
                   std::size_t capacity, std::size_t& produced) {
    produced = 0;
    if (!payload || !output || packedLength == 0 || capacity == 0)
        return false;
    switch (method) {
    case Stored:
        return decodeStored(payload, packedLength, output, capacity, produced);
    case Deflate:
        return decodeDeflate(payload, packedLength, output, capacity, produced);
    case Lzip:
        return decodeLzip(payload, packedLength, output, capacity, produced);
    case Lzma:
    case LzmaAlternative:
        return decodeLzma(payload, packedLength, output, capacity, produced);
    default:
        return false;
    }
}

} // namespace shared

#include "shared/container/payloadencoder.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <stdexcept>

#include <lzlib.h>
#include <lzma.h>
#include <zlib.h>

namespace shared {

namespace {

enum EMethodId { Stored = 0, Deflate = 3, Lzip = 4, Lzma = 5, LzmaAlternative = 10 };

// Dictionaries never need to be larger than the data they serve; the cap keeps
// the memory of one encoder modest (lzip's -6 and xz's -6 use 8 MiB).
constexpr std::uint32_t MaxDictionarySize = 8u << 20;
constexpr int LzipMatchLengthLimit = 36;
constexpr unsigned long long LzipMemberSize = 0x0008000000000000ULL;
constexpr int EncoderBlock = 1 << 16;

std::uint32_t dictionaryFor(const QByteArray& data, std::uint32_t minimum) {
    return std::max(minimum,
                    std::min<std::uint32_t>(static_cast<std::uint32_t>(data.size()), MaxDictionarySize));
}

[[noreturn]] void throwEncoderFailure(const char* method) {
    throw std::runtime_error(std::string("Could not compress data with ") + method);
}

struct TDeflateEnd {
    void operator()(z_stream* stream) const { deflateEnd(stream); }
};

QByteArray encodeDeflate(const QByteArray& data) {
    z_stream stream{};
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throwEncoderFailure("DEFLATE");
    std::unique_ptr<z_stream, TDeflateEnd> guard(&stream);
    QByteArray payload(static_cast<int>(deflateBound(&stream, static_cast<uLong>(data.size()))),
                       Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(payload.data());
    stream.avail_out = static_cast<uInt>(payload.size());
    if (deflate(&stream, Z_FINISH) != Z_STREAM_END)
        throwEncoderFailure("DEFLATE");
    payload.resize(static_cast<int>(stream.total_out));
    return payload;
}

struct TLzipEncoderClose {
    void operator()(LZ_Encoder* encoder) const { LZ_compress_close(encoder); }
};

QByteArray encodeLzip(const QByteArray& data) {
    std::unique_ptr<LZ_Encoder, TLzipEncoderClose> encoder(LZ_compress_open(
        static_cast<int>(dictionaryFor(data, static_cast<std::uint32_t>(LZ_min_dictionary_size()))),
        LzipMatchLengthLimit, LzipMemberSize));
    if (!encoder || LZ_compress_errno(encoder.get()) != LZ_ok)
        throwEncoderFailure("lzip");

    QByteArray payload;
    QByteArray block(EncoderBlock, Qt::Uninitialized);
    const auto* input = reinterpret_cast<const uint8_t*>(data.constData());
    int position = 0;
    bool finishSent = false;
    while (LZ_compress_finished(encoder.get()) != 1) {
        if (position < data.size()) {
            const int room = std::min(LZ_compress_write_size(encoder.get()), data.size() - position);
            const int written = room > 0 ? LZ_compress_write(encoder.get(), input + position, room) : 0;
            if (written < 0)
                throwEncoderFailure("lzip");
            position += written;
        }
        if (position == data.size() && !finishSent) {
            if (LZ_compress_finish(encoder.get()) < 0)
                throwEncoderFailure("lzip");
            finishSent = true;
        }
        const int read =
            LZ_compress_read(encoder.get(), reinterpret_cast<uint8_t*>(block.data()), block.size());
        if (read < 0)
            throwEncoderFailure("lzip");
        payload.append(block.constData(), read);
    }
    return payload;
}

struct TLzmaEnd {
    void operator()(lzma_stream* stream) const { lzma_end(stream); }
};

// The classic ".lzma" layout: 5 property bytes, 8 bytes of length (left
// unknown here), then the LZMA stream with its end marker.
QByteArray encodeLzma(const QByteArray& data) {
    lzma_options_lzma options{};
    if (lzma_lzma_preset(&options, 6))
        throwEncoderFailure("LZMA");
    options.dict_size = dictionaryFor(data, LZMA_DICT_SIZE_MIN);
    lzma_stream stream = LZMA_STREAM_INIT;
    if (lzma_alone_encoder(&stream, &options) != LZMA_OK)
        throwEncoderFailure("LZMA");
    std::unique_ptr<lzma_stream, TLzmaEnd> guard(&stream);

    QByteArray payload(data.size() + data.size() / 16 + 1024, Qt::Uninitialized);
    stream.next_in = reinterpret_cast<const uint8_t*>(data.constData());
    stream.avail_in = static_cast<size_t>(data.size());
    stream.next_out = reinterpret_cast<uint8_t*>(payload.data());
    stream.avail_out = static_cast<size_t>(payload.size());
    for (;;) {
        const lzma_ret status = lzma_code(&stream, LZMA_FINISH);
        if (status == LZMA_STREAM_END)
            break;
        if (status != LZMA_OK)
            throwEncoderFailure("LZMA");
        if (stream.avail_out == 0) {
            const int used = payload.size();
            payload.resize(used + used / 2);
            stream.next_out = reinterpret_cast<uint8_t*>(payload.data()) + used;
            stream.avail_out = static_cast<size_t>(payload.size() - used);
        }
    }
    payload.resize(static_cast<int>(stream.total_out));
    return payload;
}

} // namespace

QByteArray encodePayload(int method, const QByteArray& data) {
    switch (method) {
    case Stored:
        return data;
    case Deflate:
        return encodeDeflate(data);
    case Lzip:
        return encodeLzip(data);
    case Lzma:
    case LzmaAlternative:
        return encodeLzma(data);
    default:
        throw std::invalid_argument("No encoder for compression method " + std::to_string(method));
    }
}

} // namespace shared

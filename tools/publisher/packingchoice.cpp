#include "publisher/packingchoice.h"

#include "launcher/chunking/chunker.h"
#include "shared/container/container.h"

#include <cstring>
#include <unordered_set>

namespace publisher {

namespace {

// About one sample point per KiB; each sample fingerprints the 32 bytes after it.
constexpr std::uint32_t SampleMask = 0x3FF;
constexpr int SampleLength = 32;

std::uint64_t fingerprint(const unsigned char* Data) {
    std::uint64_t Hash = 1469598103934665603ULL; // FNV-1a
    for (int i = 0; i < SampleLength; ++i) {
        Hash = (Hash ^ Data[i]) * 1099511628211ULL;
    }
    return Hash;
}

bool isSlowMethod(int Method) {
    return Method == shared::CompressionLzip || Method == shared::CompressionLzma;
}

} // namespace

bool packingPays(qint64 UnpackedSize, qint64 PackedSize, double MinimumSaving) {
    return static_cast<double>(PackedSize) <= static_cast<double>(UnpackedSize) * (1.0 - MinimumSaving);
}

bool hasRepeatedStretches(const QByteArray& Content) {
    const std::uint32_t* Gear = mirrel::launcher::chunkGearTable();
    const auto* Data = reinterpret_cast<const unsigned char*>(Content.constData());
    const qint64 End = Content.size() - SampleLength;
    std::unordered_set<std::uint64_t> Seen;
    std::uint32_t Hash = 0;
    for (qint64 i = 0; i < End; ++i) {
        Hash = (Hash >> 1) + Gear[Data[i]];
        // The gear hash forgets bytes after 32 steps, so equal stretches give
        // equal sample points.
        if (i >= SampleLength && (Hash & SampleMask) == 0) {
            if (!Seen.insert(fingerprint(Data + i + 1)).second) {
                return true;
            }
        }
    }
    return false;
}

TPackedChunk packChunk(const QByteArray& Content, int Method, double MinimumSaving) {
    TPackedChunk Best{QByteArray(), 0};
    if (isSlowMethod(Method)) {
        QByteArray Probe = shared::compress(shared::CompressionDeflate, Content);
        const bool AlreadyCompressed =
            !packingPays(Content.size(), Probe.size(), ProbeSaving) && !hasRepeatedStretches(Content);
        if (!AlreadyCompressed) {
            QByteArray Packed = shared::compress(Method, Content);
            Best = Packed.size() < Probe.size() ? TPackedChunk{std::move(Packed), Method}
                                                : TPackedChunk{std::move(Probe), shared::CompressionDeflate};
        }
    } else if (Method != shared::CompressionStored) {
        Best = {shared::compress(Method, Content), Method};
    }
    if (Best.Method != shared::CompressionStored &&
        packingPays(Content.size(), Best.Container.size(), MinimumSaving)) {
        return Best;
    }
    return {shared::compress(shared::CompressionStored, Content), shared::CompressionStored};
}

} // namespace publisher

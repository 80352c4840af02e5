// Feeds arbitrary bytes to both container decoders. Besides the sanitizers'
// findings, it stops when the strict and the lenient way disagree.

#include "shared/container/container.h"
#include "shared/container/decompressionerror.h"

#include <QByteArray>

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto* bytes = reinterpret_cast<const char*>(data);
    const QByteArray input = QByteArray::fromRawData(bytes, static_cast<int>(size));

    bool strictDecoded = true;
    QByteArray strict;
    try {
        strict = shared::decompress(input);
    } catch (const shared::TDecompressionError&) {
        strictDecoded = false;
    }

    std::string lenient;
    const bool lenientDecoded = shared::unpack(lenient, std::string(bytes, size));
    if (lenientDecoded) {
        if (!strictDecoded ||
            lenient != std::string(strict.constData(), static_cast<std::size_t>(strict.size())))
            std::abort();
    } else {
        if (lenient != std::string(bytes, size))
            std::abort();
        // The strict way either failed too, or the input is no container and
        // came back as it was.
        if (strictDecoded && strict != input)
            std::abort();
    }
    return 0;
}

#include "publisher/packingchoice.h"

#include "shared/container/container.h"

namespace publisher {

bool packingPays(qint64 UnpackedSize, qint64 PackedSize, double MinimumSaving) {
    return static_cast<double>(PackedSize) <= static_cast<double>(UnpackedSize) * (1.0 - MinimumSaving);
}

TPackedChunk packChunk(const QByteArray& Content, int Method, double MinimumSaving) {
    if (Method != 0) {
        QByteArray Packed = shared::compress(Method, Content);
        if (packingPays(Content.size(), Packed.size(), MinimumSaving)) {
            return {std::move(Packed), Method};
        }
    }
    return {shared::compress(0, Content), 0};
}

} // namespace publisher

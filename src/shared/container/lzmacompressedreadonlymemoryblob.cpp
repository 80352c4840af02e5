#include "shared/container/lzmacompressedreadonlymemoryblob.h"

#include "shared/container/container.h"

namespace shared {

QByteArray TLZMACompressedReadOnlyMemoryBlob::data() const {
    QByteArray contents;
    unpack(contents, readRawData());
    return contents;
}

} // namespace shared

#pragma once

#include "shared/container/readonlymemoryblob.h"

namespace shared {

// A file that may hold a compressed container. Its data are the decoded
// contents, or the raw bytes when the file is not a container that decodes.
class TLZMACompressedReadOnlyMemoryBlob : public TReadOnlyMemoryBlob {
public:
    using TReadOnlyMemoryBlob::TReadOnlyMemoryBlob;

    QByteArray data() const override;
};

} // namespace shared

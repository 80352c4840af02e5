#include "launcher/download/chunktodownload.h"

#include "launcher/download/chunkedfilestate.h"

namespace mirrel::launcher {

TChunkToDownload::TChunkToDownload(const TChunkInPackage& Chunk)
    : Url(Chunk.Url)
    , PackedSize(Chunk.PackedSize)
    , PackedHash(Chunk.PackedHash)
    , UnpackedSize(Chunk.UnpackedSize)
    , UnpackedHash(Chunk.UnpackedHash)
    , Unpack(Chunk.Unpack) {}

} // namespace mirrel::launcher

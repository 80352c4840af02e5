#pragma once

#include "launcher/package/packagetypes.h"

#include <QByteArray>
#include <QUrl>

#include <vector>

namespace mirrel::launcher {

// One downloadable piece: a content-defined chunk of a file, or a whole file served as one piece.
// Hashes are raw SHA-256 digests (32 bytes), compared byte for byte.
struct TChunkInPackage {
    QUrl Url; // resolved against the directory of the document that listed it; empty when not given
    TFileSize PackedSize = 0;
    QByteArray PackedHash;
    TFileSize UnpackedSize = 0;
    QByteArray UnpackedHash;
    bool Unpack = true; // the piece is a compressed container that must be unpacked
};

using TChunkInPackageVector = std::vector<TChunkInPackage>;

} // namespace mirrel::launcher

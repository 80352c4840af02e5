#pragma once

#include "launcher/download/retrypolicy.h"
#include "launcher/package/chunkinpackage.h"

#include <QByteArray>
#include <QUrl>

#include <memory>
#include <vector>

namespace mirrel::launcher {

class TChunkedFileState;
struct TChunkInPackage;

// One distinct chunk address of a download run and every file that contains its content.
struct TChunkToDownload {
    TChunkToDownload() = default;
    explicit TChunkToDownload(const TChunkInPackage& Chunk);

    QUrl Url;
    TFileSize PackedSize = 0;
    QByteArray PackedHash;
    TFileSize UnpackedSize = 0;
    QByteArray UnpackedHash;
    bool Unpack = true;
    // Each file listed once.
    std::vector<std::shared_ptr<TChunkedFileState>> Targets;
    // Failed attempts so far; network and hash failures share this one budget.
    TRetryBudget RetryBudget;
    // Whether the current attempt has received a byte.
    bool ReceivedBytes = false;
};

} // namespace mirrel::launcher

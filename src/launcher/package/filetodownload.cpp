#include "launcher/package/filetodownload.h"

#include "launcher/package/fileinpackage.h"

#include <QString>

#include <stdexcept>

namespace mirrel::launcher {

TFileToDownload::TFileToDownload(const TFileInPackage& file, const TChunkInPackageVector& chunkTable)
    : LocalFile(file.LocalFile)
    , Size(file.Size)
    , Hash(file.Hash)
    , Executable(file.Executable) {
    Chunks.reserve(file.Chunks.size());
    for (const std::int32_t index : file.Chunks) {
        if (index < 0 || static_cast<std::size_t>(index) >= chunkTable.size()) {
            throw std::runtime_error(QStringLiteral("Chunk index %1 of file '%2' is outside the chunk table.")
                                         .arg(index)
                                         .arg(file.LocalFile)
                                         .toStdString());
        }
        Chunks.push_back(chunkTable[static_cast<std::size_t>(index)]);
    }
}

} // namespace mirrel::launcher

#pragma once

#include "publisher/launcherconfigurationbuilder.h"

#include <QString>

#include <memory>

namespace shared {
class TFileSystemHelper;
}

namespace publisher {

struct TConfigureOptions {
    QString OutputFile;
    TLauncherConfigurationSettings Settings;
    QString SignKey; // a PEM Ed25519 private key: the document gets its ".sig"
};

// Writes the launcher configuration document, whole or not at all.
class TConfigureCommand {
public:
    TConfigureCommand(std::shared_ptr<const shared::TFileSystemHelper> FileSystem, TConfigureOptions Options);

    // Returns the one-line summary; throws TUsageError or std::runtime_error.
    QString run() const;

private:
    std::shared_ptr<const shared::TFileSystemHelper> m_pFileSystem;
    TConfigureOptions Options;
};

} // namespace publisher

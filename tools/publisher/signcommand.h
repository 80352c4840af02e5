#pragma once

#include <QString>
#include <QStringList>

#include <memory>

namespace shared {
class TFileSystemHelper;
}

namespace publisher {

struct TSignOptions {
    QString KeyFile;
    QStringList Documents; // empty: only the public key is asked for
};

// Signs documents written by hand (a launcher configuration, say) and tells the
// public key that a launcher needs in its settings to trust them.
class TSignCommand {
public:
    TSignCommand(std::shared_ptr<const shared::TFileSystemHelper> FileSystem, TSignOptions Options);

    // Writes "<document>.sig" beside every document; returns the summary line.
    QString sign() const;
    // The "[SECURITY] publicKey" value for "launchersettings.ini".
    QString publicKey() const;

private:
    std::shared_ptr<const shared::TFileSystemHelper> m_pFileSystem;
    TSignOptions Options;
};

} // namespace publisher

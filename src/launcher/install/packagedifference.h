#pragma once

#include "launcher/package/fileinpackage.h"
#include "launcher/package/filetodownload.h"

#include <QMetaType>
#include <QString>

#include <memory>

namespace mirrel::launcher {

class TSiblingChunkIndex;

// The outcome of comparing an installation directory with the configuration to install: what
// still has to be fetched (each entry with at least one chunk to download) and which files of the
// installed configuration no longer belong to the package. ErrorText tells why the directory
// could not be prepared for the new version; nothing else is then filled in. SiblingIndex tells
// where installed sibling packages hold contents still to be fetched (null without siblings).
struct TPackageDifference {
    TFileToDownloadVector FilesToDownload;
    TFileInPackageVector FilesToDelete;
    QString ErrorText;
    std::shared_ptr<const TSiblingChunkIndex> SiblingIndex;
};

} // namespace mirrel::launcher

Q_DECLARE_METATYPE(mirrel::launcher::TPackageDifference)

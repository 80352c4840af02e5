#pragma once

#include <QMetaType>

namespace mirrel::launcher {

// How a download run or an installation ended. The downloader reports 1 and 2; the installation
// keeps the same field and adds 0 for success and 3 for a failed verification.
enum class EPackageDownloaderError : int {
    NoError = 0,
    DownloadFailed = 1,
    SavingFailed = 2,
    VerificationFailed = 3,
};

} // namespace mirrel::launcher

Q_DECLARE_METATYPE(mirrel::launcher::EPackageDownloaderError)

#include "shared/filesystemhelper/diskerror.h"

#include "shared/filesystemhelper/ioerror.h"

namespace shared {

TDiskError::TDiskError(const QString& FileName, const QString& Reason)
    : std::runtime_error(ioErrorText(FileName, Reason).toStdString()) {}

TDiskError::TDiskError(const std::string& Text)
    : std::runtime_error(Text) {}

} // namespace shared

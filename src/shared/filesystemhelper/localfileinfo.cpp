#include "shared/filesystemhelper/localfileinfo.h"

namespace shared {

TLocalFileInfo::TLocalFileInfo(const QString& absoluteFilePath, qint64 size)
    : absoluteFilePath(absoluteFilePath)
    , size(size) {}

TLocalFileInfo::~TLocalFileInfo() = default;

} // namespace shared

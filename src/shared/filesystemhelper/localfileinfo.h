#pragma once

#include <QString>

namespace shared {

// One entry of a directory listing: where the file is and how big it is.
class TLocalFileInfo {
public:
    TLocalFileInfo() = default;
    TLocalFileInfo(const QString& absoluteFilePath, qint64 size);
    virtual ~TLocalFileInfo();
    TLocalFileInfo(const TLocalFileInfo&) = default;
    TLocalFileInfo& operator=(const TLocalFileInfo&) = default;
    TLocalFileInfo(TLocalFileInfo&&) = default;
    TLocalFileInfo& operator=(TLocalFileInfo&&) = default;

    QString absoluteFilePath;
    qint64 size = 0;
};

} // namespace shared

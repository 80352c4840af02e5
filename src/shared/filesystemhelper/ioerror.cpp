#include "shared/filesystemhelper/ioerror.h"

namespace shared {

QString ioErrorText(const QString& fileName, const QString& detail) {
    return QStringLiteral("I/O error on file '%1': %2").arg(fileName, detail);
}

std::runtime_error ioError(const QString& fileName, const QString& detail) {
    return std::runtime_error(ioErrorText(fileName, detail).toStdString());
}

} // namespace shared

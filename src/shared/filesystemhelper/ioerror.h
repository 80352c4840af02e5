#pragma once

#include <QString>

#include <stdexcept>

namespace shared {

// The one text every failure that names a file carries:
// "I/O error on file '<file>': <detail>".
QString ioErrorText(const QString& fileName, const QString& detail);
std::runtime_error ioError(const QString& fileName, const QString& detail);

} // namespace shared

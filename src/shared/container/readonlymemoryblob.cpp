#include "shared/container/readonlymemoryblob.h"

#include "shared/filesystemhelper/ioerror.h"

#include <QFile>
#include <QFileInfo>

namespace shared {

TReadOnlyMemoryBlob::TReadOnlyMemoryBlob(const QString& path)
    : m_path(path) {
    if (!QFileInfo::exists(path))
        throw ioError(path, QStringLiteral("File does not exist"));
}

TReadOnlyMemoryBlob::~TReadOnlyMemoryBlob() = default;

QByteArray TReadOnlyMemoryBlob::data() const {
    return readRawData();
}

QByteArray TReadOnlyMemoryBlob::readRawData() const {
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        throw ioError(file.fileName(), QStringLiteral("Could not open file."));
    QByteArray contents = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw ioError(file.fileName(), file.errorString());
    return contents;
}

} // namespace shared

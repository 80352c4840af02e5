#include "artworkwriter.h"

#include "imageeffects.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageWriter>
#include <QSaveFile>

namespace artwork {

TArtworkWriter::TArtworkWriter(QString Folder)
    : m_Folder(std::move(Folder)) {}

QByteArray TArtworkWriter::encoded(const QImage& Image, const QString& FileName) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, QByteArray());
    if (FileName.endsWith(QLatin1String(".png"))) {
        writer.setFormat("png");
        // Quality 0 asks the PNG encoder for its strongest compression.
        writer.setQuality(0);
        const QImage image = isOpaque(Image) ? Image.convertToFormat(QImage::Format_RGB32)
                                             : Image.convertToFormat(QImage::Format_ARGB32);
        if (!writer.write(image))
            return {};
    } else if (FileName.endsWith(QLatin1String(".jpg"))) {
        writer.setFormat("jpeg");
        writer.setQuality(92);
        writer.setOptimizedWrite(true);
        if (!writer.write(Image.convertToFormat(QImage::Format_RGB32)))
            return {};
    } else {
        return {};
    }
    return bytes;
}

bool TArtworkWriter::matches(const QString& FileName, const QByteArray& Bytes) const {
    QFile file(QDir(m_Folder).filePath(FileName));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return file.readAll() == Bytes;
}

bool TArtworkWriter::write(const QString& FileName, const QByteArray& Bytes, QString& Error) const {
    if (matches(FileName, Bytes))
        return true;
    if (!QDir().mkpath(m_Folder)) {
        Error = QStringLiteral("Cannot create the folder '%1'.").arg(m_Folder);
        return false;
    }
    QSaveFile file(QDir(m_Folder).filePath(FileName));
    if (!file.open(QIODevice::WriteOnly) || file.write(Bytes) != Bytes.size() || !file.commit()) {
        Error = QStringLiteral("Cannot write '%1': %2").arg(file.fileName(), file.errorString());
        return false;
    }
    return true;
}

} // namespace artwork

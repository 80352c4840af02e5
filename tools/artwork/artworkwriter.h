#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

namespace artwork {

// Turns pictures into file contents and puts them into a folder. Encoding is
// deterministic (no time stamps, fixed settings), so a file whose picture
// did not change keeps its bytes and is not rewritten.
class TArtworkWriter {
public:
    explicit TArtworkWriter(QString Folder);

    // PNG for ".png" (smallest compression, alpha only where used), JPEG for
    // ".jpg" (quality 92, optimised tables). Empty for an unknown suffix.
    static QByteArray encoded(const QImage& Image, const QString& FileName);

    // True when the file in the folder holds exactly Bytes.
    bool matches(const QString& FileName, const QByteArray& Bytes) const;

    // Writes Bytes unless the file holds them already; Error explains a failure.
    bool write(const QString& FileName, const QByteArray& Bytes, QString& Error) const;

    QString folder() const { return m_Folder; }

private:
    QString m_Folder;
};

} // namespace artwork

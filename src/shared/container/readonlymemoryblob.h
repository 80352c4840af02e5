#pragma once

#include <QByteArray>
#include <QString>

namespace shared {

// The contents of one file, read as a whole each time they are asked for.
class TReadOnlyMemoryBlob {
public:
    // Throws the I/O error "File does not exist" when there is no such file.
    explicit TReadOnlyMemoryBlob(const QString& path);
    virtual ~TReadOnlyMemoryBlob();
    TReadOnlyMemoryBlob(const TReadOnlyMemoryBlob&) = delete;
    TReadOnlyMemoryBlob& operator=(const TReadOnlyMemoryBlob&) = delete;

    virtual QByteArray data() const;
    const QString& path() const { return m_path; }

protected:
    QByteArray readRawData() const;

private:
    QString m_path;
};

} // namespace shared

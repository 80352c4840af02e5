#include "publisher/bytetext.h"

namespace publisher {

QString byteText(quint64 Bytes) {
    if (Bytes >= 1000000000ULL) {
        return QStringLiteral("%1 GB").arg(static_cast<double>(Bytes) / 1e9, 0, 'f', 2);
    }
    return QStringLiteral("%1 MB").arg(static_cast<double>(Bytes) / 1e6, 0, 'f', 1);
}

} // namespace publisher

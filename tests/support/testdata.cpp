#include "support/testdata.h"

#include <QCryptographicHash>

#include <random>

namespace testsupport {

QByteArray randomBytes(int Size, std::uint64_t Seed) {
    QByteArray Data(Size, Qt::Uninitialized);
    std::mt19937_64 Random(Seed);
    for (int i = 0; i < Size; ++i) {
        Data[i] = static_cast<char>(Random() >> 56);
    }
    return Data;
}

QByteArray sha256(const QByteArray& Data) {
    return QCryptographicHash::hash(Data, QCryptographicHash::Sha256);
}

} // namespace testsupport

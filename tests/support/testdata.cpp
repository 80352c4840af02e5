#include "support/testdata.h"
#include "support/stringliteral.h"
#include "support/testpaths.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>

#include <cstring>
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

QByteArray seededBytes(quint32 Seed, qint64 Size) {
    std::mt19937 generator(Seed);
    QByteArray bytes(static_cast<int>(Size), Qt::Uninitialized);
    qint64 index = 0;
    for (; index + 4 <= Size; index += 4) {
        const quint32 value = generator();
        std::memcpy(bytes.data() + index, &value, 4);
    }
    for (; index < Size; ++index) {
        bytes[static_cast<int>(index)] = static_cast<char>(generator());
    }
    return bytes;
}

bool writeBytes(const QString& Path, const QByteArray& Content) {
    QDir().mkpath(QFileInfo(Path).absolutePath());
    QFile file(Path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(Content) == Content.size();
}

QByteArray readBytes(const QString& Path) {
    QFile file(Path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool makeExecutable(const QString& Path) {
    return QFile::setPermissions(Path, QFile::permissions(Path) | QFile::ExeOwner | QFile::ExeGroup |
                                           QFile::ExeOther);
}

QByteArray sha256(const QByteArray& Data) {
    return QCryptographicHash::hash(Data, QCryptographicHash::Sha256);
}

bool runPublisher(const QStringList& Arguments, QString& Output) {
    QProcess publisher;
    publisher.setProcessChannelMode(QProcess::MergedChannels);
    publisher.start(launcherBinDir() + u"/vantor-publisher"_qs, Arguments);
    const bool finished = publisher.waitForFinished(600000);
    Output = QString::fromUtf8(publisher.readAll()) + (finished ? QString() : publisher.errorString());
    return finished && publisher.exitStatus() == QProcess::NormalExit && publisher.exitCode() == 0;
}

} // namespace testsupport

#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>

namespace testsupport {

// Reproducible content: the same seed always gives the same bytes, which do not pack (the
// publisher tests count the chunks such content is cut into). Two generators, as the tests
// written against each keep their bytes.
QByteArray randomBytes(int Size, std::uint64_t Seed);
QByteArray seededBytes(quint32 Seed, qint64 Size);

// Writes a file, creating its folders; reads one (empty when it cannot be read).
bool writeBytes(const QString& Path, const QByteArray& Content);
QByteArray readBytes(const QString& Path);
bool makeExecutable(const QString& Path);

// SHA-256 from Qt's own implementation, an oracle independent of the launcher's hashing.
QByteArray sha256(const QByteArray& Data);

// Runs the real publisher program to its end; Output holds what it printed.
bool runPublisher(const QStringList& Arguments, QString& Output);

} // namespace testsupport

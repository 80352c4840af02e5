#pragma once

#include <QByteArray>

#include <cstdint>

namespace testsupport {

// Reproducible bytes that do not pack: the same seed always gives the same content (the
// publisher tests count the chunks such content is cut into).
QByteArray randomBytes(int Size, std::uint64_t Seed);

// SHA-256 from Qt's own implementation, an oracle independent of the launcher's hashing.
QByteArray sha256(const QByteArray& Data);

} // namespace testsupport

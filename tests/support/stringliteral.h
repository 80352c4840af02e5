#pragma once

#include <QString>

#include <cstddef>

namespace testsupport {

// u"text"_qs is the QString of a UTF-16 literal, as QStringLiteral gives it, in fewer characters:
// test tables and expectations stay on one line.
inline QString operator""_qs(const char16_t* Text, std::size_t Length) {
    return QString(reinterpret_cast<const QChar*>(Text), static_cast<int>(Length));
}

} // namespace testsupport

#pragma once

#include <QString>

namespace publisher {

// Decimal units with one or two decimals: "812.3 MB", "20.48 GB".
QString byteText(quint64 Bytes);

} // namespace publisher

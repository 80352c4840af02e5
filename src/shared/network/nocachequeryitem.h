#pragma once

#include <QUrl>

namespace shared {

// Appends a query item "nocache" with 32 random letters and digits behind the
// URL's existing query items, so caches between us and the server cannot
// answer with an old copy. An invalid URL comes back unchanged.
QUrl addNocacheQueryItem(const QUrl& Url);

} // namespace shared

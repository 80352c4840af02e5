#pragma once

class QUrl;

namespace mirrel::launcher {

// Resolves a URL from a package or launcher document against the directory the document came from.
// A relative URL is appended to the base path (a single "/" is added only when neither side has
// one; an existing one is never removed) and the base's query is dropped. An absolute URL is
// returned unchanged.
QUrl resolveUrl(const QUrl& baseUrl, const QUrl& url);

} // namespace mirrel::launcher

#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QUrl>

namespace shared {

// The servers that hold the same files: the main server's base address and the mirrors that copy
// it. An address below the base may also be fetched from every mirror with the base replaced. A
// server that failed three transfers in a row is skipped for the rest of the run; one success
// clears its count. GUI thread only (shared by the pools that live there).
class TMirrorSet {
public:
    static constexpr int FailuresBeforeSkipping = 3;

    // Mirrors that are not absolute http or https addresses are left out with a log line.
    TMirrorSet(const QUrl& BaseUrl, const QList<QUrl>& Mirrors);

    const QUrl& baseUrl() const { return m_BaseUrl; }
    const QList<QUrl>& mirrors() const { return m_Mirrors; }

    // Where Url may be fetched from, in order: Url itself, then its copy on every mirror; servers
    // that are skipped are left out, but never all of them. An address outside the base has only
    // itself.
    QList<QUrl> addressesFor(const QUrl& Url) const;
    void recordFailure(const QUrl& Address);
    void recordSuccess(const QUrl& Address);
    bool isSkipped(const QUrl& Server) const;

    // The mirror entries of a configuration document that are usable, in order.
    static QList<QUrl> validMirrors(const QList<QUrl>& Candidates);

private:
    // The base (main server or mirror) an address lies below, or an empty text.
    QString serverOf(const QUrl& Address) const;

    QUrl m_BaseUrl;
    QList<QUrl> m_Mirrors;
    QMap<QString, int> m_FailuresInARow;
};

} // namespace shared

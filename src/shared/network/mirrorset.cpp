#include "shared/network/mirrorset.h"

#include <QtDebug>

namespace shared {

namespace {

QString baseText(const QUrl& Base) {
    QString text = Base.toString(QUrl::FullyEncoded);
    if (!text.endsWith(QLatin1Char('/'))) {
        text += QLatin1Char('/');
    }
    return text;
}

} // namespace

TMirrorSet::TMirrorSet(const QUrl& BaseUrl, const QList<QUrl>& Mirrors)
    : m_BaseUrl(BaseUrl)
    , m_Mirrors(validMirrors(Mirrors)) {}

QList<QUrl> TMirrorSet::validMirrors(const QList<QUrl>& Candidates) {
    QList<QUrl> valid;
    for (const QUrl& candidate : Candidates) {
        const QString scheme = candidate.scheme();
        if (!candidate.isValid() || candidate.isRelative() || candidate.host().isEmpty() ||
            (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
            qWarning().noquote() << "Mirror \"" + candidate.toString() +
                                        "\" is not an absolute http or https address; it is not used.";
            continue;
        }
        valid.append(QUrl(baseText(candidate), QUrl::StrictMode));
    }
    return valid;
}

QList<QUrl> TMirrorSet::addressesFor(const QUrl& Url) const {
    const QString text = Url.toString(QUrl::FullyEncoded);
    const QString base = baseText(m_BaseUrl);
    if (m_Mirrors.isEmpty() || !m_BaseUrl.isValid() || !text.startsWith(base)) {
        return {Url};
    }
    const QString rest = text.mid(base.size());
    QList<QUrl> addresses{Url};
    for (const QUrl& mirror : m_Mirrors) {
        addresses.append(QUrl(baseText(mirror) + rest, QUrl::StrictMode));
    }
    QList<QUrl> usable;
    for (const QUrl& address : addresses) {
        if (!isSkipped(address)) {
            usable.append(address);
        }
    }
    // With every server skipped the main one is tried all the same: failing is left to the caller.
    return usable.isEmpty() ? QList<QUrl>{Url} : usable;
}

void TMirrorSet::recordFailure(const QUrl& Address) {
    const QString server = serverOf(Address);
    if (server.isEmpty()) {
        return;
    }
    const int failures = ++m_FailuresInARow[server];
    if (failures == FailuresBeforeSkipping) {
        qWarning().noquote() << "Server " + server + " failed " + QString::number(failures) +
                                    " times in a row; it is skipped from now on.";
    }
}

void TMirrorSet::recordSuccess(const QUrl& Address) {
    const QString server = serverOf(Address);
    if (!server.isEmpty() && m_FailuresInARow.value(server) < FailuresBeforeSkipping) {
        m_FailuresInARow.remove(server);
    }
}

bool TMirrorSet::isSkipped(const QUrl& Server) const {
    return m_FailuresInARow.value(serverOf(Server)) >= FailuresBeforeSkipping;
}

QString TMirrorSet::serverOf(const QUrl& Address) const {
    const QString text = Address.toString(QUrl::FullyEncoded);
    for (const QUrl& base : QList<QUrl>{m_BaseUrl} + m_Mirrors) {
        if (base.isValid() && text.startsWith(baseText(base))) {
            return baseText(base);
        }
    }
    return QString();
}

} // namespace shared

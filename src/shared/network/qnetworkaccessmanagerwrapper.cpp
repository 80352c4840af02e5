#include "shared/network/qnetworkaccessmanagerwrapper.h"

#include "shared/network/networkmetatypes.h"
#include "shared/network/qnetworkreplywrapper.h"

#include <QNetworkAccessManager>

namespace shared {

QNetworkAccessManagerWrapper::QNetworkAccessManagerWrapper(
    std::shared_ptr<QNetworkAccessManager> pAccessManager, QObject* parent)
    : QObject(parent)
    , m_pAccessManager(std::move(pAccessManager)) {
    registerNetworkMetaTypes();
    if (m_pAccessManager)
        connect(m_pAccessManager.get(), &QNetworkAccessManager::authenticationRequired, this,
                &QNetworkAccessManagerWrapper::authenticationRequired);
}

QNetworkReplyWrapper* QNetworkAccessManagerWrapper::get(const QNetworkRequest& request) {
    if (!m_pAccessManager)
        return new QNetworkReplyWrapper(nullptr);
    QNetworkRequest timed(request);
    if (timed.transferTimeout() <= 0)
        timed.setTransferTimeout(m_transferStallTimeout);
    return new QNetworkReplyWrapper(m_pAccessManager->get(timed));
}

void QNetworkAccessManagerWrapper::setCache(QAbstractNetworkCache* pCache) {
    if (m_pAccessManager)
        m_pAccessManager->setCache(pCache);
}

void QNetworkAccessManagerWrapper::setTransferStallTimeout(int Milliseconds) {
    if (Milliseconds > 0)
        m_transferStallTimeout = Milliseconds;
}

void QNetworkAccessManagerWrapper::setRedirectPolicy(QNetworkRequest::RedirectPolicy policy) {
    if (m_pAccessManager)
        m_pAccessManager->setRedirectPolicy(policy);
}

} // namespace shared

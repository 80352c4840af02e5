#include "launcher/telemetry/funneleventsender.h"

#include "shared/network/qnetworkaccessmanagerwrapper.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSettings>
#include <QStandardPaths>
#include <QUuid>
#include <QtDebug>

namespace mirrel::launcher {

namespace {

const QString OrganizationName = QStringLiteral("Quorvane GmbH");
const QString ApplicationName = QStringLiteral("Vantor Online");

} // namespace

TFunnelEventSender::TFunnelEventSender(QString FunnelSettingsKey, TTextProvider AccountGroupKey,
                                       TUrlProvider FunnelUrl, QObject* parent)
    : QObject(parent)
    , m_FunnelSettingsKey(std::move(FunnelSettingsKey))
    , m_AccountGroupKey(std::move(AccountGroupKey))
    , m_FunnelUrl(std::move(FunnelUrl))
    , m_SettingsStoreFactory(&TFunnelEventSender::userSettingsStore)
    , m_TransferStallTimeout(shared::QNetworkAccessManagerWrapper::DefaultTransferStallTimeout) {}

TFunnelEventSender::~TFunnelEventSender() = default;

void TFunnelEventSender::setTransferStallTimeout(int Milliseconds) {
    if (Milliseconds > 0) {
        m_TransferStallTimeout = Milliseconds;
    }
}

void TFunnelEventSender::setFunnelUrlProvider(TUrlProvider FunnelUrl) {
    m_FunnelUrl = std::move(FunnelUrl);
}

void TFunnelEventSender::setSettingsStoreFactory(TSettingsStoreFactory Factory) {
    m_SettingsStoreFactory = std::move(Factory);
}

void TFunnelEventSender::sendFunnelEvent(const QString& Step, const QString& FirstTimeKey) {
    qInfo().noquote() << "sendFunnelEvent: " + Step;
    if (!m_Enabled) {
        return;
    }
    const QUrl funnelUrl = m_FunnelUrl ? m_FunnelUrl() : QUrl();
    if (funnelUrl.isEmpty()) {
        // Nothing would answer, and the milestone still counts as first for a later report.
        qInfo().noquote() << "sendFunnelEvent: no funnel address configured; step not sent: " + Step;
        return;
    }
    const std::unique_ptr<QSettings> store = m_SettingsStoreFactory();
    const QString identifier = deviceIdentifier(*store);
    // The flag turns false before the report is sent: a report lost on the network still counts.
    const bool first = store->value(FirstTimeKey, true).toBool();
    if (first) {
        store->setValue(FirstTimeKey, false);
    }
    store->sync();

    const QString accountGroupKey = m_AccountGroupKey ? m_AccountGroupKey() : QString();
    post(funnelUrl, Step, funnelEventDocument(Step, first, identifier, accountGroupKey));
}

std::unique_ptr<QSettings> TFunnelEventSender::userSettingsStore() {
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, OrganizationName,
                                       ApplicationName);
}

QString TFunnelEventSender::sharedIdentifierFilePath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Vantor Online/vantorShared.json");
}

QByteArray TFunnelEventSender::funnelEventDocument(const QString& Step, bool First,
                                                   const QString& DeviceIdentifier,
                                                   const QString& AccountGroupKey) {
    const QJsonObject event{{QStringLiteral("accountgroupkey"), AccountGroupKey},
                            {QStringLiteral("first"), First},
                            {QStringLiteral("id"), DeviceIdentifier},
                            {QStringLiteral("step"), Step}};
    return QJsonDocument(event).toJson();
}

void TFunnelEventSender::sendThroughApplication(const QString& Step, const QString& FirstTimeKey) {
    QCoreApplication* pApplication = QCoreApplication::instance();
    const QByteArray signature = QMetaObject::normalizedSignature("sendFunnelEvent(QString,QString)");
    if (pApplication == nullptr || pApplication->metaObject()->indexOfMethod(signature.constData()) < 0) {
        qInfo().noquote() << "sendFunnelEvent: no application object sends funnel events; step not sent: " +
                                 Step;
        return;
    }
    QMetaObject::invokeMethod(pApplication, "sendFunnelEvent", Qt::DirectConnection, Q_ARG(QString, Step),
                              Q_ARG(QString, FirstTimeKey));
}

QString TFunnelEventSender::deviceIdentifier(QSettings& Store) const {
    const QVariant stored = Store.value(m_FunnelSettingsKey);
    if (!stored.isNull()) {
        return stored.toString();
    }
    const QString identifier = QUuid::createUuid().toString(QUuid::WithoutBraces);
    Store.setValue(m_FunnelSettingsKey, identifier);
    writeSharedIdentifierFile(identifier);
    return identifier;
}

void TFunnelEventSender::writeSharedIdentifierFile(const QString& DeviceIdentifier) {
    // Other programs of the maker own the folder: it is used when it exists and never created here,
    // and a file that cannot be written is no concern of the launcher.
    QFile file(sharedIdentifierFilePath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return;
    }
    file.write(QJsonDocument(QJsonObject{{QStringLiteral("DeviceIdentifier"), DeviceIdentifier}}).toJson());
}

void TFunnelEventSender::post(const QUrl& FunnelUrl, const QString& Step, const QByteArray& Body) {
    QNetworkRequest request(FunnelUrl);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    // One manager per report, so that reports in flight never share a connection's fate.
    auto* pNetworkAccessManager = new QNetworkAccessManager(this);
    pNetworkAccessManager->setTransferTimeout(m_TransferStallTimeout);
    qInfo().noquote() << "Sending funnel event for step " + Step;
    QNetworkReply* pReply = pNetworkAccessManager->post(request, Body);
    connect(
        pReply, &QNetworkReply::finished, pReply,
        [pReply, Step] {
            if (pReply->error() != QNetworkReply::NoError) {
                qWarning().noquote() << "Error funnel sending (Step: " << Step
                                     << "):" << pReply->errorString();
            } else {
                qInfo().noquote() << "Funnel response received (Step: " << Step
                                  << "):" << QString::fromUtf8(pReply->readAll());
            }
            pReply->deleteLater();
        },
        Qt::DirectConnection);
}

} // namespace mirrel::launcher

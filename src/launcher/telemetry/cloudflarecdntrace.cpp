#include "launcher/telemetry/cloudflarecdntrace.h"

#include "shared/network/downloadpool.h"

#include <QStringList>

namespace mirrel::launcher {

TCdnTraceValues TCdnTraceValues::parse(const QString& Document) {
    TCdnTraceValues values;
    const QStringList lines = Document.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString& line : lines) {
        const QStringList parts = line.split(QLatin1Char('='), Qt::SkipEmptyParts);
        if (parts.size() != 2) {
            continue;
        }
        const QString key = parts[0];
        const QString value = parts[1].trimmed();
        if (key.compare(QLatin1String("fl"), Qt::CaseInsensitive) == 0) {
            values.m_Fl = value;
        } else if (key.compare(QLatin1String("ts"), Qt::CaseInsensitive) == 0) {
            values.m_Ts = value;
        } else if (key.compare(QLatin1String("colo"), Qt::CaseInsensitive) == 0) {
            values.m_Colo = value;
        } else if (key.compare(QLatin1String("ip"), Qt::CaseInsensitive) == 0) {
            values.m_Ip = value;
        }
    }
    return values;
}

QString TCdnTraceValues::formatted() const {
    return QStringLiteral("FL: %1, TS: %2, COLO: %3, IP: %4").arg(m_Fl, m_Ts, m_Colo, m_Ip);
}

TCloudflareCdnTrace::TCloudflareCdnTrace(QUrl TraceUrl, std::shared_ptr<shared::TDownloadPool> pDownloadPool)
    : m_TraceUrl(std::move(TraceUrl))
    , m_pDownloadPool(std::move(pDownloadPool)) {
    connect(m_pDownloadPool.get(), &shared::TDownloadPool::success, this,
            &TCloudflareCdnTrace::onDownloadSuccess);
    connect(m_pDownloadPool.get(), &shared::TDownloadPool::failed, this,
            &TCloudflareCdnTrace::onDownloadFailed);
}

void TCloudflareCdnTrace::request() {
    if (m_Received || m_Failed || m_Requested) {
        return;
    }
    if (!m_TraceUrl.isValid()) {
        fail();
        return;
    }
    m_Requested = true;
    m_pDownloadPool->download(m_TraceUrl);
}

void TCloudflareCdnTrace::onDownloadSuccess(QUrl Url, QByteArray Data) {
    if (Url != m_TraceUrl) {
        return;
    }
    m_Values = TCdnTraceValues::parse(QString::fromUtf8(Data));
    m_Received = true;
    m_Failed = false;
    m_Requested = false;
    emit diagnosticsTraceReceived(false);
}

void TCloudflareCdnTrace::onDownloadFailed(QUrl Url, QNetworkReply::NetworkError Code, QString ErrorString) {
    Q_UNUSED(Code)
    Q_UNUSED(ErrorString)
    if (Url != m_TraceUrl) {
        return;
    }
    fail();
}

void TCloudflareCdnTrace::fail() {
    m_Received = false;
    m_Failed = true;
    m_Requested = false;
    emit diagnosticsTraceReceived(true);
}

} // namespace mirrel::launcher

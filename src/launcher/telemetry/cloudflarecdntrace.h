#pragma once

#include <QNetworkReply>
#include <QObject>
#include <QString>
#include <QUrl>

#include <memory>

namespace shared {
class TDownloadPool;
}

namespace mirrel::launcher {

// The four values of the CDN's trace document that tell support which edge
// server a player reached.
struct TCdnTraceValues {
    QString m_Fl;
    QString m_Ts;
    QString m_Colo;
    QString m_Ip;

    // Lines of key=value; keys match without regard to case, a later line
    // wins, and a line that does not split into exactly two parts is skipped.
    static TCdnTraceValues parse(const QString& Document);
    QString formatted() const;
};

// Fetches the trace document once, on first need, through the application's
// download pool, and keeps its values for the failure messages.
class TCloudflareCdnTrace : public QObject {
    Q_OBJECT

public:
    TCloudflareCdnTrace(QUrl TraceUrl, std::shared_ptr<shared::TDownloadPool> pDownloadPool);

    void request();
    bool isReceived() const { return m_Received; }
    bool isFailed() const { return m_Failed; }
    bool isRequested() const { return m_Requested; }
    QString formattedText() const { return m_Values.formatted(); }

signals:
    void diagnosticsTraceReceived(bool Failed);

private slots:
    void onDownloadSuccess(QUrl Url, QByteArray Data);
    void onDownloadFailed(QUrl Url, QNetworkReply::NetworkError Code, QString ErrorString);

private:
    void fail();

    QUrl m_TraceUrl;
    std::shared_ptr<shared::TDownloadPool> m_pDownloadPool;
    TCdnTraceValues m_Values;
    bool m_Received = false;
    bool m_Failed = false;
    bool m_Requested = false;
};

} // namespace mirrel::launcher

#pragma once

#include <QNetworkReply>
#include <QObject>
#include <QPointer>

namespace shared {

// The engine's only view of one reply. The wrapper is a child of its reply;
// deleting the wrapper frees the reply as well, so whoever is done with a
// wrapper (the download pool after reporting it) leaves nothing behind.
class QNetworkReplyWrapper : public QObject {
    Q_OBJECT
public:
    // A null reply gives a wrapper without parent and without notifications.
    explicit QNetworkReplyWrapper(QNetworkReply* pReply);
    ~QNetworkReplyWrapper() override;

    virtual QNetworkReply::NetworkError error() const;
    virtual QString errorString() const;
    virtual QByteArray readAll();
    // The address that was asked for, not the one reached after redirects.
    virtual QUrl url() const;

signals:
    void error(QNetworkReply::NetworkError code);
    void finished();
    void progress(qlonglong BytesReceivedFromRequest);

private:
    void onReplyFinished();
    bool isBodyCutShort() const;

    QPointer<QNetworkReply> m_pReply;
    // Set when the connection ended before the body announced by Content-Length
    // arrived although the network layer saw no error.
    bool m_bodyCutShort = false;
};

} // namespace shared

#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;
class QPixmap;

namespace shared {
class TMirrorSet;
}

namespace mirrel::launcher {

// Fetches the pictures of the hint tiles in the background, so that the tiles and the footer are
// laid out at once and each picture fills in when it arrives. Only web addresses are fetched; a
// picture larger than 8 MiB, of more than 4096 pixels a side, or not complete within the time
// limit is dropped with a warning in the log, and its tile keeps its caption and link. A picture
// below the configuration's base address that a server fails to deliver is asked of the mirrors
// in turn.
class THintPictureFetcher : public QObject {
    Q_OBJECT

public:
    using TDelivery = std::function<void(const QPixmap& Picture)>;

    explicit THintPictureFetcher(QObject* pParent = nullptr);
    ~THintPictureFetcher() override;

    void setTimeout(int Milliseconds) { m_TimeoutMs = Milliseconds; }
    void setMirrors(std::shared_ptr<shared::TMirrorSet> Mirrors) { m_pMirrors = std::move(Mirrors); }
    // Fetches the picture, scales it to cover ScaledSize and hands it to Deliver, unless
    // pRecipient is gone by then (its fetch is then cut short). Nothing is handed over when there
    // is no usable picture.
    void fetch(const QString& ImageUrl, const QSize& ScaledSize, QObject* pRecipient, TDelivery Deliver);
    // Pictures asked for that have neither arrived nor been given up.
    int pendingCount() const { return m_PendingCount; }

private:
    void fetchFrom(QList<QUrl> Addresses, const QString& ImageUrl, const QSize& ScaledSize,
                   const QPointer<QObject>& Recipient, const TDelivery& Deliver);
    // Whether the transfer failed in a way another server may not (no connection, a broken one, a
    // server error), and another address is left.
    static bool worthAnotherAddress(const QNetworkReply* pReply, const QList<QUrl>& Addresses);
    void watchSize(QNetworkReply* pReply, const QString& ImageUrl);
    void watchTime(QNetworkReply* pReply, const QString& ImageUrl);
    static QPixmap pictureOf(QNetworkReply* pReply, const QString& ImageUrl, const QSize& ScaledSize);

    QNetworkAccessManager* m_pManager;
    int m_TimeoutMs = 10000;
    int m_PendingCount = 0;
    std::shared_ptr<shared::TMirrorSet> m_pMirrors;
};

} // namespace mirrel::launcher
